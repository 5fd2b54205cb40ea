#!/usr/bin/env bash
# zelwik.exe under wine and Xvfb against zelwik-sim on the wine port COM2, driven by keyboard and
# mouse with xdotool, on clocks 25 days ahead: the close box of a window that has run nothing, then
# a start-up load, a program (tool button), a verify and a read (menu accelerators), then a save and
# a load through the file dialogs. During the read a second process pings the window (WM_NULL,
# SMTO_ABORTIFHUNG, 200 ms), moves and minimises it, and keys, a click, the close box and a ready-timer
# tick arrive; none of them may send a frame, open a menu or end the program, and the tick comes
# after the read. The frames must equal those of zelwik-cli doing the same, the saved file its read
# file. Then a programmer that falls silent (pinged all through the link's 2 s wait, 100 ms bound)
# and Esc during a read (the frames stop, the closing STOP goes out). The status line must have
# shown exactly the expected texts. Then what the window remembers, over restarts: the port (the
# listed COM7) and chip, the recent files in Plik (Alt+P 1), dropped files, a corrupt settings
# file, a file rebuilt after its load programmed in its new form, a vanished one refused, and
# --reset-settings.
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
# The system's tick count past 2^31 ms, as after 24.9 days of uptime (Fast Startup keeps it across
# shutdowns): input must be taken all the same. libfaketime moves the clocks of every program here,
# wine's server among them, by the same 25 days.
faketime_lib=$(ls /usr/lib/*/faketime/libfaketimeMT.so.1 2>/dev/null | head -n 1)
[ -n "$faketime_lib" ] || { echo "gui_test: libfaketime missing (scripts/install-deps.sh)"; exit 1; }
export LD_PRELOAD=$faketime_lib FAKETIME=+25d
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
      SETUPAPI.DLL | SHELL32.DLL | USER32.DLL | WINMM.DLL) ;;
    *) fail "zelwik.exe needs $dll" ;;
  esac
done

# A prefix of our own, on a screen of our own.
. "$src/tests/windows/wine_prefix.sh"
start_xvfb "$work" 640x480x24
if ! make_window_prefix "$wine" "$wineserver"; then
  echo "gui_test: wineboot did not make a usable prefix in $WINEPREFIX"
  exit 1
fi

# What an earlier run remembered (%APPDATA%\Zelwik\zelwik.ini) goes: the window starts as new.
rm -rf "$WINEPREFIX"/drive_c/users/*/AppData/Roaming/Zelwik

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
    local n
    n=$(grep -c '^ Gotowy\.\.\.$' "$status" 2>/dev/null) || true
    [ "${n:-0}" -ge "$1" ] && return 0
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

close_box() {  # wine draws the frame itself: its close box is the top right corner's button
  eval "$(xdotool getwindowgeometry --shell "$xid")"
  xdotool mousemove $((X + WIDTH - 10)) $((Y + 11)) click 1
}
window() {  # window [TITLE]: waits for the window of zelwik.exe; sets $xid
  xid=$(timeout 60 xdotool search --sync --name "${1:-^Zelwik ver 2\.2\$}" | head -n 1) || true
  [ -n "$xid" ] || fail "no window within 60 s"
}
ended() {  # ended PID: whether the program ends within 5 s
  for _ in $(seq 100); do kill -0 "$1" 2>/dev/null || return 0; sleep 0.05; done
  false
}

# Started without a file no operation has run: the close box is taken all the same, with the
# tick count past 2^31.
"$wine" "$exe" >"$work/first.out" 2>&1 &
first=$!
pids+=($first)
window
probe wait 20 >/dev/null || fail "the window without a file never showed"
close_box
ended "$first" || fail "the close box did not end a window that had run no operation"

ZELWIK_STATUS_LOG=$(winpath "$status") "$wine" "$exe" "$(winpath "$work/test.hex")" \
  >"$work/zelwik.out" 2>&1 &
app=$!
pids+=($app)
window '^Zelwik ver 2\.2 - test\.hex$'
read -r cw ch < <(probe wait 20)
[ "$cw $ch" = "296 165" ] || fail "client area $cw x $ch, not 296 x 165"
read -r ox oy < <(probe origin)

# Start-up load, then the ready timer's " Gotowy..." about a second later.
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

click 76 12   # programButton: program
wait_ready 2
menu alt+w w  # Weryfikacja > Weryfikacja
wait_ready 3

start_ping() {  # start_ping NAME BOUND_MS: pings with that bound until $work/NAME.stop exists
  "$wine" "$probe_exe" ping "$(winpath "$work/$1.stop")" "$2" >"$work/$1.out" 2>&1 &
  ping=$!
  for _ in $(seq 200); do grep -q pinging "$work/$1.out" && break; sleep 0.05; done
}
stop_ping() {  # stop_ping NAME
  touch "$work/$1.stop"
  wait "$ping" || fail "the window did not answer: $(cat "$work/$1.out")"
  echo "pings during the $1: $(tail -n 1 "$work/$1.out")"
}

# At the read's end something under wine holds the window's thread up to ~180 ms (not pinned
# down yet); the silent programmer below is pinged with the 100 ms bound.
start_ping read 200
menu alt+w o  # Weryfikacja > Odczyt
wait_status ' Odczytywanie pamięci...'
xdotool key alt+p  # would open Programowanie
probe menu 1 && fail "a menu opened during the read"
click 124 12  # lockButton: all lock bits, dropped
close_box  # dropped
probe close  # WM_CLOSE from elsewhere, dropped
probe tick  # readyTimer falls due: handled after the read
probe jiggle >"$work/jiggle.out" || fail "not moved or minimised: $(cat "$work/jiggle.out")"
[ "$(probe status)" = ' Odczytywanie pamięci...' ] || fail "the read ended too soon to tell"
wait_ready 5
sleep 0.3
stop_ping read
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
wait_ready 6
click 20 12   # openButton: load
dialog Open "$(winpath "$work/saved.hex")"
wait_ready 7

# A programmer that falls silent after 200 frames of a read: the link waits out its bound.
start_sim "$work/silent-frames.log" --stop-after 200
ln -sfn "$pty" "$WINEPREFIX/dosdevices/com2"
start_ping silence 100
click 100 12  # readButton: read
wait_status 'Błąd transmisji lub brak programatora'
wait_ready 8
stop_ping silence

# Esc during a read at 9,600 baud (an exchange takes 6 ms, longer than the key's way from the
# probe through wine), the frames counted as the key is posted: at most the exchange in flight,
# then the closing STOP.
start_sim "$work/esc-frames.log" --baud 9600
ln -sfn "$pty" "$WINEPREFIX/dosdevices/com2"
click 100 12
for _ in $(seq 200); do [ "$(wc -l <"$work/esc-frames.log")" -gt 50 ] && break; sleep 0.05; done
at_key=$(probe escape "$(winpath "$work/esc-frames.log")")
wait_status ' Przerwano.'
sleep 0.3
after=$(wc -l <"$work/esc-frames.log")
[ "$after" -le $((at_key + 3)) ] || fail "$at_key frames at Esc, then $after"
tail -n 1 "$work/esc-frames.log" | grep -q '^13000000 ' ||
  fail "the read did not end with STOP: $(tail -n 1 "$work/esc-frames.log")"
echo "Esc: $at_key frames when pressed, $after in all"

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
wait_ready 9
[ -s "$work/com7-frames.log" ] || fail "nothing reached COM7"
menu alt+i Up
kill "$com7_sim"
rm -f "$WINEPREFIX/dosdevices/com7"
xdotool key Return
menu alt+w o
wait_ready 10
[ "$(grep -cxF 'Błąd transmisji lub brak programatora' "$status")" = 2 ] ||
  fail "no link failure for COM7 gone"

if [ -n "$shot" ]; then
  xdotool mousemove 0 0
  sleep 0.3
  import -window "$xid" "$shot"
fi

close_box
ended "$app" || fail "the close box did not end the program"

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
 Gotowy...
 Zapisano 304 bajtów.
 Gotowy...
 Odczytano 300 bajtów.
 Gotowy...

 Odczytywanie pamięci...
Błąd transmisji lub brak programatora
 Gotowy...

 Odczytywanie pamięci...
 Przerwano.

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

# --- What the window remembers ---
restarts=0
restart() {  # restart TITLE [ARGS...]: zelwik.exe again, with a status log of its own
  local title=$1
  shift
  restarts=$((restarts + 1))
  status=$work/status-$restarts.log
  ZELWIK_STATUS_LOG=$(winpath "$status") "$wine" "$exe" "$@" >>"$work/zelwik.out" 2>&1 &
  app=$!
  pids+=($app)
  xid=$(timeout 60 xdotool search --sync --name "^$title\$" | head -n 1) || true
  [ -n "$xid" ] || fail "no window titled '$title' within 60 s"
  probe wait 20 >/dev/null || fail "the window did not show"
  read -r ox oy < <(probe origin)
}
quit() {
  close_box
  for _ in $(seq 100); do kill -0 "$app" 2>/dev/null || return 0; sleep 0.05; done
  fail "the close box did not end the program"
}
expect() {  # expect WHAT VALUE
  local got
  got=$(probe "$1")
  [ "$got" = "$2" ] || fail "$1 shows '$got', not '$2'"
}
make_fw() {  # make_fw N: $work/fw.hex of N bytes, byte i = 5i + N
  python3 - "$work/fw.hex" "$1" <<'PY'
import sys
n = int(sys.argv[2])
data = bytes((i * 5 + n) & 0xFF for i in range(n))
with open(sys.argv[1], "w", newline="\r\n") as f:
    for a in range(0, n, 16):
        rec = data[a:a + 16]
        body = bytes([len(rec), a >> 8, a & 0xFF, 0]) + rec
        f.write(":" + body.hex().upper() + "%02X" % (-sum(body) & 0xFF) + "\n")
    f.write(":00000001FF\n")
PY
}
ini=$(find "$WINEPREFIX/drive_c/users" -path '*/Zelwik/zelwik.ini' | head -n 1)
[ -f "$ini" ] || fail "no zelwik.ini in %APPDATA%"

# The port chosen last (COM7, gone since) and the chip come back; the latest file is Alt+P 1.
restart 'Zelwik ver 2\.2'
expect port COM7
menu alt+u Up  # Układ > Inny układ, the last item
xdotool key Return
quit
restart 'Zelwik ver 2\.2'
expect port COM7
expect chip 'Inny układ'
menu alt+p 1
wait_ready 1
expect title 'Zelwik ver 2.2 - saved.hex'

# Files dropped from a file manager (XDND, as wine takes it from X): each format loads as from
# Plik; of two, the first with a word; a drop during an operation (the pause after COM7's link
# failure) does nothing.
printf '\001\002\003' >"$work/drop.bin"
python3 - "$work/drop.s19" <<'PY'
import sys
data = bytes(range(0x30, 0x44))
body = bytes([len(data) + 3, 0, 0]) + data
with open(sys.argv[1], "w", newline="\r\n") as f:
    f.write("S1" + body.hex().upper() + "%02X\n" % (~sum(body) & 0xFF))
    f.write("S9030000FC\n")
PY
drop() {  # drop FILE...: on the listing
  eval "$(xdotool getwindowgeometry --shell "$xid")"
  timeout 20 /usr/bin/python3 "$src/win/tests/xdnd_drop.py" "$xid" $((X + 100)) $((Y + 100)) "$@" |
    grep -qx accepted || fail "the drop of $* was not accepted"
}
drop "$work/test.hex"
wait_ready 2
expect title 'Zelwik ver 2.2 - test.hex'
drop "$work/drop.bin"
wait_ready 3
drop "$work/drop.s19" "$work/drop.bin"
wait_ready 4
expect title 'Zelwik ver 2.2 - drop.s19'
menu alt+w o  # a read on COM7, gone: the link failure, then its pause
wait_status 'Błąd transmisji lub brak programatora'
timeout 20 /usr/bin/python3 "$src/win/tests/xdnd_drop.py" "$xid" $((X + 100)) $((Y + 100)) \
  "$work/test.hex" >/dev/null || true
wait_ready 5
sleep 0.5
expect title 'Zelwik ver 2.2'
cat >"$work/expected-drops" <<'TXT'
 Odczytano 300 bajtów.
 Gotowy...
 Odczytano 300 bajtów.
 Gotowy...
 Odczytano 3 bajtów.
 Gotowy...
 Odczytano 20 bajtów.
 Upuszczono kilka plików; wczytano pierwszy: drop.s19
 Gotowy...

Błąd transmisji lub brak programatora
 Gotowy...
TXT
diff -u "$work/expected-drops" "$status" || fail "status texts of the drops differ"
quit

# A settings file of garbage: the defaults, and the window works. A file rebuilt (new bytes, new
# size) between its load and the program is loaded again first: the frames are those of
# zelwik-cli programming the new file. Then it vanishes: verify sends nothing and says why; Alt+P 1
# drops it from the recent files.
printf '\377\376\000[Zelwik\nport\r\n=COM7\nchip=89C9999\nrecent1=\001\n' >"$ini"
make_fw 100
start_sim "$work/rebuilt-frames.log"
ln -sfn "$pty" "$WINEPREFIX/dosdevices/com2"
restart 'Zelwik ver 2\.2 - fw\.hex' "$(winpath "$work/fw.hex")"
expect port Com2
expect chip Automatycznie
wait_ready 1
make_fw 260
click 76 12  # programButton: program
wait_ready 2
grep -qxF ' Plik fw.hex zmienił się na dysku: wczytano ponownie' "$status" ||
  fail "no word of the reload: $(cat "$status")"
rm "$work/fw.hex"
frames=$(wc -l <"$work/rebuilt-frames.log")
menu alt+w w  # Weryfikacja > Weryfikacja
wait_status ' Brak pliku fw.hex; operacji nie rozpoczęto'
sleep 0.3
[ "$(wc -l <"$work/rebuilt-frames.log")" = "$frames" ] || fail "a frame went out for a vanished file"
menu alt+p 1
wait_status ' Brak pliku fw.hex: usunięto z ostatnich plików'
quit
start_sim "$work/rebuilt-cli-frames.log"
make_fw 260
"$cli" --port "$pty" program "$work/fw.hex" >/dev/null
sleep 0.2
diff -q "$work/rebuilt-cli-frames.log" "$work/rebuilt-frames.log" >/dev/null ||
  fail "the rebuilt file's frames differ: $(diff "$work/rebuilt-cli-frames.log" "$work/rebuilt-frames.log" | head)"
grep -q '^recent1=' "$ini" && fail "the vanished file is still remembered: $(cat "$ini")"
grep -qxF $'port=COM2\r' "$ini" || fail "the settings file was not written again: $(cat "$ini")"

# --reset-settings: Com5 chosen, then forgotten.
restart 'Zelwik ver 2\.2'
menu alt+i Up
xdotool key Return
expect port Com5
quit
restart 'Zelwik ver 2\.2' --reset-settings
expect port Com2
quit
echo "gui_test: settings kept over restarts, a corrupt file ignored, a rebuilt file reloaded"
