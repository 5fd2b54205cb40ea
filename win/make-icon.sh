#!/usr/bin/env bash
# Packs the Linux window's icon drawing (app/ AppIconImage, rendered by zelwik_icon_png) into
# win/zelwik.ico at 16, 32 and 48 pixels, for the .exe's resource. Rerun after the drawing changes:
#   win/make-icon.sh [BUILD_DIR]    (a Linux build with the Qt window, default build/release)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
cmake --build "$build" --target zelwik_icon_png >/dev/null
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
tool=$(find "$build" -name zelwik_icon_png -type f -perm -u+x | head -n 1)
"$tool" 16 "$tmp/16.png" 32 "$tmp/32.png" 48 "$tmp/48.png"
convert "$tmp/16.png" "$tmp/32.png" "$tmp/48.png" win/zelwik.ico
echo "win/zelwik.ico"
