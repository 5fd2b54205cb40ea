#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need; does nothing when all are there.
set -euo pipefail
packages=(cmake ninja-build g++ pkg-config qt6-base-dev libgtest-dev libgmock-dev
          srecord sdcc clang clang-format libclang-rt-14-dev xvfb xauth libxcb1-dev
          fonts-dejavu-core fonts-liberation2 g++-mingw-w64-x86-64-posix wine64 googletest
          xdotool fonts-wine imagemagick python3 python3-xlib libtomlplusplus-dev faketime
          dpkg-dev file lintian appstream desktop-file-utils man-db)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
