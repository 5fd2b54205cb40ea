#!/usr/bin/env bash
# zelwik.exe under wine and Xvfb at another dpi (the LogPixels registry value), with a file loaded
# at start-up: checks that the client area grew with the dpi and saves a screenshot.
#   win/tests/dpi_shot.sh WINDOWS_BUILD DPI SCREENSHOT.png
set -euo pipefail
win=$(realpath "$1")
dpi=$2
shot=$3
src=$(realpath "$(dirname "$0")/../..")
work=$win/dpi-shot
rm -rf "$work"
mkdir -p "$work"
wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
wineserver=$(dirname "$wine")/wineserver
[ -x "$wineserver" ] || wineserver=$(command -v wineserver)
export WINEPREFIX=$win/wine-dpi WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
probe() { "$wine" "$win/win/zelwik_probe.exe" "$@" | tr -d '\r'; }
fail() {
  echo "dpi_shot: $*" >&2
  exit 1
}
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  "$wineserver" -k 2>/dev/null || true
}
trap cleanup EXIT

. "$src/tests/windows/wine_prefix.sh"
start_xvfb "$work" 1280x1024x24
make_window_prefix "$wine" "$wineserver" || fail "wineboot did not make a prefix in $WINEPREFIX"
# Newer wine reads the user's value, older the machine's.
"$wine" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1
"$wine" reg add 'HKLM\System\CurrentControlSet\Hardware Profiles\Current\Software\Fonts' \
  /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1
timeout 60 "$wineserver" -w || "$wineserver" -k

"$wine" "$win/win/zelwik.exe" --reset-settings "Z:${src//\//\\}\\sim\\demo\\blink.hex" >"$work/zelwik.out" 2>&1 &
pids+=($!)
xid=$(timeout 60 xdotool search --sync --name '^Zelwik ver ' | head -n 1) || true
[ -n "$xid" ] || fail "no window within 60 s"
read -r cw ch < <(probe wait 20)
want_w=$(((296 * dpi + 48) / 96))
want_h=$(((165 * dpi + 48) / 96))
[ "$cw $ch" = "$want_w $want_h" ] || fail "client area $cw x $ch, not $want_w x $want_h at $dpi dpi"
for _ in $(seq 100); do [ "$(probe status)" = ' Gotowy...' ] && break; sleep 0.05; done
xdotool mousemove 0 0
sleep 0.5
import -window "$xid" "$shot"
echo "dpi_shot: client area $cw x $ch at $dpi dpi, $shot"
