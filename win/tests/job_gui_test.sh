#!/usr/bin/env bash
# A job made by zelwik-cli --save-job, in zelwik.exe under wine and Xvfb: opened by Ctrl+J and its
# dialog, a chip programmed by the tool button against zelwik-sim on COM2, the frames and the log
# rows (apart from time, port, duration and the file's path) those of zelwik-cli --job running the
# same job; the window grows by the job's strip only. Then the same job after its image changed: refused, nothing sent.
#   win/tests/job_gui_test.sh WINDOWS_BUILD LINUX_BUILD [SCREENSHOT.png]
set -euo pipefail
win=$(realpath "$1")
linux=$(realpath "$2")
shot=${3:-}
work=$win/job-gui-test
rm -rf "$work"
mkdir -p "$work"
wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
wineserver=$(dirname "$wine")/wineserver
[ -x "$wineserver" ] || wineserver=$(command -v wineserver)
export WINEPREFIX=$win/wine-gui WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
exe=$win/win/zelwik.exe
probe_exe=$win/win/zelwik_probe.exe
sim=$linux/sim/zelwik-sim
cli=$linux/cli/zelwik-cli
src=$(realpath "$(dirname "$0")/../..")

pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  "$wineserver" -k 2>/dev/null || true
}
trap cleanup EXIT
fail() {
  echo "job_gui_test: $*" >&2
  exit 1
}
probe() { "$wine" "$probe_exe" "$@" | tr -d '\r'; }
winpath() { echo "Z:${1//\//\\}"; }

. "$src/tests/windows/wine_prefix.sh"
start_xvfb "$work" 640x480x24
make_window_prefix "$wine" "$wineserver" || fail "wineboot did not make a usable prefix"
rm -rf "$WINEPREFIX"/drive_c/users/*/AppData/Roaming/Zelwik

start_sim() {  # start_sim LOG: sets $pty; not in a subshell, so cleanup knows the pid
  local out=$work/sim.$RANDOM
  "$sim" --chip 89C2051 --log "$1" >"$out" &
  pids+=($!)
  for _ in $(seq 100); do [ -s "$out" ] && break; sleep 0.05; done
  pty=$(head -n 1 "$out")
}
status=$work/status.log
wait_status() {  # wait_status TEXT: the status line has shown a line holding TEXT
  for _ in $(seq 400); do grep -qF -- "$1" "$status" 2>/dev/null && return 0; sleep 0.05; done
  fail "the status line never showed '$1': $(cat "$status")"
}
rows() {  # rows CSV: the log without time, port, duration and file
  cut -d, -f3,4,6-9,11,12 "$1"
}

# The firmware and its job, made by zelwik-cli --save-job: program, verify, a serial number at 7F0.
printf ':10000000000102030405060708090A0B0C0D0E0F78\n:00000001FF\n' >"$work/fw.hex"
"$cli" --save-job "$work/linia.zjob" --port COM2 --chip 89C2051 --verify \
  --serial 7F0:2:1000:1:le --serial-file "$work/window.serial" --log "$work/window.csv" \
  program "$work/fw.hex" >/dev/null || fail "zelwik-cli --save-job failed"
mkdir -p "$work/cli"
cp "$work/linia.zjob" "$work/fw.hex" "$work/cli/"

start_sim "$work/frames.log"
ln -sfn "$pty" "$WINEPREFIX/dosdevices/com2"

open_job() {  # open_job: a window, Ctrl+J, the job typed into the dialog
  ZELWIK_STATUS_LOG=$(winpath "$status") "$wine" "$exe" >"$work/zelwik.out" 2>&1 &
  app=$!
  pids+=($app)
  xid=$(timeout 60 xdotool search --sync --name '^Zelwik ver 2\.2$' | head -n 1) || true
  [ -n "$xid" ] || fail "no window within 60 s"
  probe wait 20 >/dev/null || fail "the window never showed"
  xdotool windowfocus --sync "$xid"
  xdotool key ctrl+j
  timeout 20 xdotool search --sync --name '^Open$' >/dev/null || fail "Ctrl+J opened no dialog"
  sleep 0.3
  xdotool type --delay 20 "$(winpath "$work/linia.zjob")"
  xdotool key Return
}

open_job
wait_status ' Otwarto zadanie linia'
read -r cw ch < <(probe wait 5)
[ "$cw $ch" = "296 198" ] || fail "client area with a job $cw x $ch, not 296 x 198"
read -r ox oy < <(probe origin)
xdotool mousemove $((ox + 76)) $((oy + 12)) click 1  # programButton: the job's chip
for _ in $(seq 400); do [ "$(wc -l <"$work/window.csv" 2>/dev/null)" = 3 ] && break; sleep 0.05; done
[ "$(wc -l <"$work/window.csv")" = 3 ] || fail "the log has no two rows: $(cat "$work/window.csv")"
sleep 0.5

start_sim "$work/cli-frames.log"
# The same job through the command line, on a copy with counter and log of its own.
"$cli" --job "$work/cli/linia.zjob" --port "$pty" >/dev/null || fail "zelwik-cli --job failed"
diff -q "$work/cli-frames.log" "$work/frames.log" >/dev/null ||
  fail "frames differ from zelwik-cli's: $(diff "$work/cli-frames.log" "$work/frames.log" | head)"
diff <(rows "$work/cli/window.csv") <(rows "$work/window.csv") ||
  fail "log rows differ from zelwik-cli --job's"
grep -q ',1000,ok,' "$work/window.csv" || fail "no serial 1000 in the log"
echo "job: $(wc -l <"$work/frames.log") frames, the rows of zelwik-cli"
if [ -n "$shot" ]; then
  xdotool mousemove 0 0
  sleep 0.3
  import -window "$xid" "$shot"
fi
kill "$app" 2>/dev/null || true
"$wineserver" -k 2>/dev/null || true
wait "$app" 2>/dev/null || true

# The image changed since the job was made: refused on opening, nothing sent, nothing logged.
printf ':10000000000102030405060708090A0B0C0D0E0F78\n:01010000AA54\n:00000001FF\n' >"$work/fw.hex"
: >"$work/frames.log"
cp "$work/window.csv" "$work/window.before"
open_job
wait_status 'the file has changed since the job was made'
sleep 0.3
[ ! -s "$work/frames.log" ] || fail "frames went out for a changed image"
cmp -s "$work/window.csv" "$work/window.before" || fail "the log changed for a changed image"
echo "job_gui_test: passed"
