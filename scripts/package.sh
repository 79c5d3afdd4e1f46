#!/usr/bin/env bash
# Builds the Debian package (dependencies found by dpkg-shlibdeps) into build/package, checks
# it with lintian and lists what it installs.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
if ! command -v lintian >/dev/null; then
  s=""; [ "$(id -u)" -ne 0 ] && s=sudo
  DEBIAN_FRONTEND=noninteractive $s apt-get install -y -qq --no-install-recommends lintian
fi
# A package keeps programs in /usr/bin and data in /usr/share: the catalogs go to
# /usr/share/vardelio/locale, which the program finds relative to itself.
cmake -S . -B build/package -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DVARDELIO_INSTALL_LOCALEDIR=share/vardelio/locale \
  -DVARDELIO_BUILD_TESTS=OFF -DVARDELIO_BUILD_BENCH=OFF >/dev/null
cmake --build build/package
(cd build/package && cpack -G DEB >/dev/null)
deb=$(ls build/package/vardelio_*.deb)
echo "== $deb"
dpkg-deb --info "$deb" | grep -E "Package|Version|Depends|Section"
echo "== lintian"
lintian --tag-display-limit 0 "$deb" || true
echo "== files"
dpkg-deb --contents "$deb" | awk '{print $6}'
