#!/usr/bin/env bash
# Installs a build into a temporary prefix and checks what lands where: the program, the
# simulated unit, the catalogs beside the program, the menu entry, the metadata and the icons.
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
         share/icons/hicolor/scalable/apps/$id.svg share/icons/hicolor/48x48/apps/$id.png; do
  [ -f "$prefix/$f" ] || { echo "install: missing $f"; exit 1; }
done
desktop-file-validate "$prefix/share/applications/$id.desktop"
appstreamcli validate --no-net --pedantic "$prefix/share/metainfo/$id.metainfo.xml" >/dev/null
version=$(QT_QPA_PLATFORM=offscreen "$prefix/bin/vardelio" --version)
[ "$version" = "vardelio 1.0" ] || { echo "install: --version said '$version'"; exit 1; }
echo "install: all files in place, entry and metadata valid, '$version'"
