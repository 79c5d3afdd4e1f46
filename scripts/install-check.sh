#!/usr/bin/env bash
# Installs a build into a temporary prefix and checks what lands where: the program, the
# simulated unit, the catalogs beside the program, the menu entry, the metadata, the icons and
# the manual pages.
#   bash scripts/install-check.sh BUILD_FOLDER
set -euo pipefail
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
id=ar.com.quimbral.vardelio
for f in bin/vardelio bin/vardelio-unit \
         bin/locale/es/LC_MESSAGES/default.mo bin/locale/es/LC_MESSAGES/cport.mo \
         share/applications/$id.desktop share/metainfo/$id.metainfo.xml \
         share/icons/hicolor/scalable/apps/$id.svg share/icons/hicolor/48x48/apps/$id.png \
         share/man/man1/vardelio.1.gz share/man/man1/vardelio-unit.1.gz; do
  [ -f "$prefix/$f" ] || { echo "install: missing $f"; exit 1; }
done
desktop-file-validate "$prefix/share/applications/$id.desktop"
appstreamcli validate --no-net --pedantic "$prefix/share/metainfo/$id.metainfo.xml" >/dev/null
for page in vardelio vardelio-unit; do
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z \
    "$prefix/share/man/man1/$page.1.gz" 2>&1 >/dev/null)
  [ -z "$warnings" ] || { echo "install: $page.1: $warnings"; exit 1; }
done
"$prefix/bin/vardelio-unit" --help >/dev/null || { echo "install: vardelio-unit --help failed"; exit 1; }
version=$(QT_QPA_PLATFORM=offscreen "$prefix/bin/vardelio" --version)
[ "$version" = "vardelio 1.0" ] || { echo "install: --version said '$version'"; exit 1; }
echo "install: all files in place, entry, metadata and manual pages valid, '$version'"
