#!/usr/bin/env bash
# Installs a build into a temporary prefix and checks what lands where: the program, the
# simulated unit, the catalogs beside the program, the menu entry, the metadata, the icons and
# the manual pages, and the file type of the programming files.
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
         share/mime/packages/$id.xml \
         share/icons/hicolor/scalable/apps/$id.svg share/icons/hicolor/48x48/apps/$id.png \
         share/man/man1/vardelio.1.gz share/man/man1/vardelio-unit.1.gz; do
  [ -f "$prefix/$f" ] || { echo "install: missing $f"; exit 1; }
done
desktop-file-validate "$prefix/share/applications/$id.desktop"
xmllint --noout "$prefix/share/mime/packages/$id.xml"
# The type as a file manager would learn it: built into a database of its own, by name and by
# content, and offered by the menu entry.
XDG_DATA_DIRS="$prefix/share" update-mime-database "$prefix/share/mime" 2>&1 | { ! grep .; } || { echo "install: MIME package refused"; exit 1; }
type=application/x-vardelio-programming
[ -f "$prefix/share/mime/$type.xml" ] || { echo "install: $type not in the MIME database"; exit 1; }
grep -q "\*\.vardelio" "$prefix/share/mime/globs2" || { echo "install: *.vardelio not globbed"; exit 1; }
grep -qx "MimeType=$type;" "$prefix/share/applications/$id.desktop" ||
  { echo "install: the menu entry does not offer $type"; exit 1; }
appstreamcli validate --no-net --pedantic "$prefix/share/metainfo/$id.metainfo.xml" >/dev/null
for page in vardelio vardelio-unit; do
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z \
    "$prefix/share/man/man1/$page.1.gz" 2>&1 >/dev/null)
  [ -z "$warnings" ] || { echo "install: $page.1: $warnings"; exit 1; }
done
"$prefix/bin/vardelio-unit" --help >/dev/null || { echo "install: vardelio-unit --help failed"; exit 1; }
version=$(QT_QPA_PLATFORM=offscreen "$prefix/bin/vardelio" --version)
[ "$version" = "vardelio 1.0" ] || { echo "install: --version said '$version'"; exit 1; }
echo "install: all files in place, entry, metadata, file type and manual pages valid, '$version'"
