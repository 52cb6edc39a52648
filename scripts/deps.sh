#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when missing.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev
  qt6-tools-dev qt6-documentation-tools libqt6sql6-sqlite
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  libcreg-utils libparse-win32registry-perl liblnk-utils rifiuti2
  xvfb xauth xdotool fonts-wine
  fdisk dosfstools mtools qemu-utils libvhdi-utils faketime samba smbclient
  clang libclang-rt-dev clang-format python3
  lintian desktop-file-utils appstream man-db dpkg-dev fakeroot file librsvg2-bin
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
