#!/usr/bin/env bash
# zelwik.exe under wine and Xvfb against zelwik-sim on the wine port COM2, driven by keyboard and
# mouse with xdotool: a start-up load, a program (tool button), a verify and a read (menu
# accelerators), then a save and a load through the file dialogs. During the read a second
# process pings the window (WM_NULL, SMTO_ABORTIFHUNG, 200 ms), moves and minimises it, and keys,
# a click and the close box arrive; none of them may send a frame or end the program. The frames
# must equal those of zelwik-cli doing the same, the saved file its read file, and the status line
# must have shown exactly the expected texts.
#   win/tests/gui_test.sh WINDOWS_BUILD LINUX_BUILD [SCREENSHOT.png]
set -euo pipefail
win=$(realpath "$1")
linux=$(realpath "$2")
shot=${3:-}
work=$win/gui-test
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

pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  "$wineserver" -k 2>/dev/null || true
}
trap cleanup EXIT
fail() {
  echo "gui_test: $*" >&2
  exit 1
}
probe() { "$wine" "$probe_exe" "$@" | tr -d '\r'; }
winpath() { echo "Z:${1//\//\\}"; }

# The .exe's icon is the Linux window's drawing (win/make-icon.sh packs it).
src=$(realpath "$(dirname "$0")/../..")
icon32=$linux/app/icons/32/zelwik.png
if [ -f "$icon32" ]; then
  differ=$(compare -metric AE "$src/win/zelwik.ico[1]" "$icon32" null: 2>&1) || true
  [ "$differ" = 0 ] || fail "win/zelwik.ico is not the drawing ($differ pixels): win/make-icon.sh"
fi

# One .exe that needs only the system's DLLs.
dlls=$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/.*DLL Name: //p' | tr 'a-z' 'A-Z' | sort)
for dll in $dlls; do
  case $dll in
    ADVAPI32.DLL | COMCTL32.DLL | COMDLG32.DLL | GDI32.DLL | KERNEL32.DLL | MSVCRT.DLL | \
      SETUPAPI.DLL | USER32.DLL | WINMM.DLL) ;;
    *) fail "zelwik.exe needs $dll" ;;
  esac
done

exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 640x480x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
exec 3>&-
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=:$(head -n 1 "$work/display")

# A prefix of our own whose windows wine frames itself (no window manager under Xvfb), with
# wine's own fonts in it.
. "$src/tests/windows/wine_prefix.sh"
if ! wine_prefix_ready; then
  if ! make_wine_prefix "$wine" "$wineserver"; then
    echo "gui_test: wineboot did not make a usable prefix in $WINEPREFIX"
    exit 1
  fi
  "$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
  for font in /usr/share/wine/fonts/*; do
    [ -e "$font" ] && ln -sf "$font" "$WINEPREFIX/drive_c/windows/Fonts/"
  done
  # The session that made the prefix must end: a window opened in it would not reach the display.
  timeout 60 "$wineserver" -w || "$wineserver" -k
fi

start_sim() {  # start_sim LOG [options]: sets $pty; not in a subshell, so cleanup knows the pid
  local log=$1 out=$work/sim.$RANDOM
  shift
  "$sim" --chip 89C52 --log "$log" "$@" >"$out" &
  pids+=($!)
  for _ in $(seq 100); do [ -s "$out" ] && break; sleep 0.05; done
  pty=$(head -n 1 "$out")
}

# waits until the status line has shown " Gotowy..." N times
status=$work/status.log
wait_ready() {
  for _ in $(seq 600); do
    [ "$(grep -c '^ Gotowy\.\.\.$' "$status" 2>/dev/null)" -ge "$1" ] && return 0
    sleep 0.05
  done
  fail "no ' Gotowy...' number $1; the status line showed: $(cat "$status")"
}
wait_status() {
  for _ in $(seq 400); do grep -qxF -- "$1" "$status" 2>/dev/null && return 0; sleep 0.05; done
  fail "the status line never showed '$1'"
}

python3 - "$work/test.hex" <<'PY'
import sys
data = bytes((i * 7 + 0x41) & 0xFF for i in range(300))
with open(sys.argv[1], "w", newline="\r\n") as f:
    for a in range(0, len(data), 16):
        rec = data[a:a + 16]
        body = bytes([len(rec), a >> 8, a & 0xFF, 0]) + rec
        f.write(":" + body.hex().upper() + "%02X" % (-sum(body) & 0xFF) + "\n")
    f.write(":00000001FF\n")
PY

start_sim "$work/frames.log" --baud 115200
ln -sfn "$pty" "$WINEPREFIX/dosdevices/com2"

ZELWIK_STATUS_LOG=$(winpath "$status") "$wine" "$exe" "$(winpath "$work/test.hex")" \
  >"$work/zelwik.out" 2>&1 &
app=$!
pids+=($app)
xid=$(timeout 60 xdotool search --sync --name '^Zelwik ver 2\.2$' | head -n 1) || true
[ -n "$xid" ] || fail "no window within 60 s"
read -r cw ch < <(probe wait 20)
[ "$cw $ch" = "296 165" ] || fail "client area $cw x $ch, not 296 x 165"
read -r ox oy < <(probe origin)
close_box() {  # wine draws the frame itself: its close box is the top right corner's button
  eval "$(xdotool getwindowgeometry --shell "$xid")"
  xdotool mousemove $((X + WIDTH - 10)) $((Y + 11)) click 1
}

# Start-up load, then Timer1's " Gotowy..." about a second later.
wait_ready 1
click() { xdotool mousemove $((ox + $1)) $((oy + $2)) click 1; }
menu() {  # menu ALT+KEY KEY: opens a menu by its accelerator, then takes the item
  for _ in 1 2 3; do
    xdotool windowfocus --sync "$xid"
    xdotool key "$1"
    if probe menu 3; then
      xdotool key "$2"
      return 0
    fi
  done
  fail "the menu did not open for $1"
}

click 76 12   # SpeedButton1: program
wait_ready 2
menu alt+w w  # Weryfikacja > Weryfikacja
wait_ready 3

"$wine" "$probe_exe" ping "$(winpath "$work/stop")" >"$work/ping.out" 2>&1 &
ping=$!
for _ in $(seq 200); do grep -q pinging "$work/ping.out" && break; sleep 0.05; done
menu alt+w o  # Weryfikacja > Odczyt
wait_status ' Odczytywanie pamięci...'
xdotool key alt+p p  # Programowanie > Programowanie, dropped
click 124 12  # SpeedButton5: all lock bits, dropped
close_box  # dropped
probe close  # WM_CLOSE from elsewhere, dropped
probe jiggle >"$work/jiggle.out" || fail "not moved or minimised: $(cat "$work/jiggle.out")"
[ "$(probe status)" = ' Odczytywanie pamięci...' ] || fail "the read ended too soon to tell"
wait_ready 4
sleep 0.3
touch "$work/stop"
wait "$ping" || fail "the window did not answer: $(cat "$work/ping.out")"
echo "pings during the read: $(tail -n 1 "$work/ping.out")"
probe status >/dev/null || fail "the close box ended the program during the read"
# The file dialogs: save by the menu (the default extension added), load by the tool button.
dialog() {  # dialog TITLE PATH: types the path into the file dialog and confirms it
  timeout 20 xdotool search --sync --name "^$1\$" >/dev/null || fail "no '$1' dialog"
  sleep 0.3
  xdotool type --delay 20 "$2"
  xdotool key Return
}
menu alt+p z  # Plik > Zapis
dialog 'Save As' "$(winpath "$work/saved")"
wait_ready 5
click 20 12   # SpeedButton3: load
dialog Open "$(winpath "$work/saved.hex")"
wait_ready 6

# COM7, which no list names (wine opens a dosdevices link as COM7): the Interfejs menu lists it
# below COM1 ... COM5 when it opens, and once chosen it is the port read. Then it is unplugged
# while the menu is open: chosen all the same, the read ends as a link failure.
start_sim "$work/com7-frames.log"
com7_sim=${pids[-1]}
ln -sfn "$pty" "$WINEPREFIX/dosdevices/com7"
menu alt+i Up  # the last item: the one listed port
xdotool key Return
[ "$(probe port)" = COM7 ] || fail "the port label shows '$(probe port)', not COM7"
menu alt+w o  # Weryfikacja > Odczyt
wait_ready 7
[ -s "$work/com7-frames.log" ] || fail "nothing reached COM7"
menu alt+i Up
kill "$com7_sim"
rm -f "$WINEPREFIX/dosdevices/com7"
xdotool key Return
menu alt+w o
wait_ready 8
grep -qxF 'Błąd transmisji lub brak programatora' "$status" || fail "no link failure for COM7 gone"

if [ -n "$shot" ]; then
  xdotool mousemove 0 0
  sleep 0.3
  import -window "$xid" "$shot"
fi

close_box
for _ in $(seq 100); do kill -0 "$app" 2>/dev/null || break; sleep 0.05; done
kill -0 "$app" 2>/dev/null && fail "the close box did not end the program"

cat >"$work/expected-status" <<TXT
 Odczytano 300 bajtów.
 Gotowy...

 Zapisywanie pamięci...
 Zpisywanie zakończono...
 Gotowy...

 Weryfikowanie pamięci...
 Weryfikowanie zakończono...
 Gotowy...

 Odczytywanie pamięci...
 Odczytywanie zakończono...
 Gotowy...
 Zapisano 304 bajtów.
 Gotowy...
 Odczytano 300 bajtów.
 Gotowy...

 Odczytywanie pamięci...
 Odczytywanie zakończono...
 Gotowy...

Błąd transmisji lub brak programatora
 Gotowy...
TXT
diff -u "$work/expected-status" "$status" || fail "status texts differ"

# The same three operations from the command line make the same frames.
start_sim "$work/cli-frames.log"
port=$pty
"$cli" --port "$port" program "$work/test.hex" >/dev/null
"$cli" --port "$port" verify "$work/test.hex" >/dev/null
"$cli" --port "$port" read "$work/read.hex" >/dev/null
sleep 0.2
diff -q "$work/cli-frames.log" "$work/frames.log" >/dev/null ||
  fail "frames differ from zelwik-cli's: $(diff "$work/cli-frames.log" "$work/frames.log" | head)"
cmp -s "$work/read.hex" "$work/saved.hex" || fail "the saved file differs from zelwik-cli's read"
frames=$(wc -l <"$work/frames.log")
echo "gui_test: $frames frames as zelwik-cli sent them, status texts as expected"
