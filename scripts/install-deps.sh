#!/usr/bin/env bash
# Installs the Debian packages that building, testing and running need, if any are missing.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-base-private-dev libgl-dev qt6-translations-l10n
  libjpeg62-turbo-dev gettext
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  fonts-liberation fonts-dejavu-core
  qt6-serialport-dev
  poppler-utils
  xvfb libxcb1-dev
  clang libclang-rt-14-dev strace
  desktop-file-utils appstream dpkg-dev man-db shared-mime-info libxml2-utils
  qemu-system-x86 linux-image-amd64 busybox-static kmod cpio
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
