#!/usr/bin/env bash
# The Windows build under wine. Cross-builds zelwik-cli.exe and the unit tests into build/windows,
# runs the unit tests, then drives zelwik-cli.exe end to end against the Linux zelwik-sim on a
# pseudo-terminal that a symlink in the wine prefix makes a COM port, and compares texts, exit
# codes, files and the simulator's frame logs with the Linux zelwik-cli doing the same.
#   tests/windows/run.sh [LINUX_BUILD]   LINUX_BUILD: zelwik-sim and zelwik-cli (build/release)
# Last line: "windows: N passed, M failed"; the exit status is non-zero when M is.
set -uo pipefail
cd "$(dirname "$0")/../.."
root=$PWD
linux=${1:-build/release}
win=build/windows
wine=$(command -v /usr/lib/wine/wine64 wine64 wine 2>/dev/null | head -n 1)
if [ -z "$wine" ] || ! command -v x86_64-w64-mingw32-g++-posix >/dev/null; then
  echo "windows: wine64 or mingw-w64 missing (scripts/install-deps.sh installs them)"
  echo "windows: 0 passed, 1 failed"
  exit 1
fi
wineserver=$(dirname "$wine")/wineserver
[ -x "$wineserver" ] || wineserver=$(command -v wineserver)

passed=0
failed=0
check() {  # check NAME COMMAND...: one result
  if "${@:2}"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAIL: $1"
  fi
}
finish() {
  echo "windows: $passed passed, $failed failed"
  [ "$failed" -eq 0 ]
  exit
}

cmake -S . -B "$win" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
  -DCMAKE_BUILD_TYPE=Release >"$win.configure.log" 2>&1 || { cat "$win.configure.log"; exit 1; }
if ! cmake --build "$win" -j "$(nproc)"; then
  failed=1
  finish
fi

# Own prefix in the build folder, made once (about 15 s); the server stays up for the whole run
# instead of starting for every program.
export WINEPREFIX=$root/$win/wine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
. tests/windows/wine_prefix.sh
if ! make_wine_prefix "$wine" "$wineserver"; then
  echo "windows: wineboot did not make a usable prefix in $WINEPREFIX"
  failed=1
  finish
fi
"$wineserver" -p >/dev/null 2>&1 &
# The first program starts wine's services, which keep its standard handles: give them none.
"$wine" "$win/cli/zelwik-cli.exe" --help >/dev/null 2>&1 </dev/null
work=$(mktemp -d)
sim_pid=""
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null
  "$wineserver" -k >/dev/null 2>&1
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

cli_linux=$root/$linux/cli/zelwik-cli
cli_win=$root/$win/cli/zelwik-cli.exe
sim=$root/$linux/sim/zelwik-sim
port=COM17  # two digits: opened through \\.\COM17
demo=$root/sim/demo/blink.hex
# A user folder and file name that no ANSI code page of the west holds both of.
windir="$WINEPREFIX/drive_c/Użytkownik"
mkdir -p "$windir"
cp "$demo" "$windir/płytka.hex"

start_sim() {  # start_sim LOG SIM-OPTIONS...: a fresh simulator on the wine COM port
  local log=$1
  shift
  : >"$work/sim.out"
  "$sim" --log "$log" "$@" >"$work/sim.out" 2>>"$work/sim.err" &
  sim_pid=$!
  for _ in $(seq 200); do [ -s "$work/sim.out" ] && break; sleep 0.02; done
  pts=$(head -n 1 "$work/sim.out")
  ln -sfn "$pts" "$WINEPREFIX/dosdevices/${port,,}"
}
stop_sim() {
  kill "$sim_pid" 2>/dev/null
  wait "$sim_pid" 2>/dev/null
  sim_pid=""
}

# --- unit tests ------------------------------------------------------------------------------
# The port's own tests use a simulator on the COM port.
for exe in "$win"/tests/windows/*_tests.exe; do
  [ -e "$exe" ] || continue
  start_sim "$work/unit.frames" --chip 89C2051
  ZELWIK_TEST_PORT=$port "$wine" "$exe" --gtest_brief=1 >"$work/unit.out" 2>&1
  rc=$?
  stop_sim
  ok=$(sed -n 's/.*\[  PASSED  \] \([0-9]*\) test.*/\1/p' "$work/unit.out")
  bad=$(sed -n 's/.*\[  FAILED  \] \([0-9]*\) test.*/\1/p' "$work/unit.out")
  passed=$((passed + ${ok:-0}))
  failed=$((failed + ${bad:-0}))
  if [ "$rc" -ne 0 ] || [ -z "$ok$bad" ]; then
    cat "$work/unit.out"
    [ -z "$bad" ] && failed=$((failed + 1))
  fi
  check "$exe: no test skipped" eval '! grep -q "SKIPPED" "$work/unit.out"'
done

# --- end to end ------------------------------------------------------------------------------
now_ms() { echo $(($(date +%s%N) / 1000000)); }
# run SIDE NAME ARGS...: zelwik-cli on the Linux or the wine side; $work/SIDE.NAME.{out,err,rc,ms}
run() {
  local side=$1 name=$2
  shift 2
  local start
  start=$(now_ms)
  if [ "$side" = win ]; then
    "$wine" "$cli_win" "$@" >"$work/$side.$name.raw" 2>"$work/$side.$name.err"
  else
    "$cli_linux" "$@" >"$work/$side.$name.raw" 2>"$work/$side.$name.err"
  fi
  echo $? >"$work/$side.$name.rc"
  echo $(($(now_ms) - start)) >"$work/$side.$name.ms"
  # The Windows text mode ends lines with CR LF; the texts themselves must be the same bytes.
  tr -d '\r' <"$work/$side.$name.raw" >"$work/$side.$name.out"
}
same() { cmp -s "$1" "$2" || { diff "$1" "$2" | head -n 5; false; }; }
same_run() {  # the texts and the exit code of one step on both sides
  same "$work/linux.$1.out" "$work/win.$1.out" && same "$work/linux.$1.rc" "$work/win.$1.rc"
}
has() { grep -qF -- "$2" "$1"; }
rc_is() { [ "$(cat "$work/$1.rc")" = "$2" ]; }

# Every operation on a 20-pin and a 40-pin chip, the same steps on both sides.
for chip in 89C2051 89C52; do
  steps=(program verify read signature-maker signature-device lock1 erase)
  for side in linux win; do
    start_sim "$work/$side.$chip.frames" --chip "$chip"
    for step in "${steps[@]}"; do
      if [ "$side" = linux ]; then
        file=$demo
        [ "$step" = read ] && file=$work/linux.$chip.read.hex
        target=$pts
      else
        file='C:\Użytkownik\płytka.hex'
        [ "$step" = read ] && file="C:\\Użytkownik\\odczyt $chip.hex"
        target=$port
      fi
      case $step in
        program | verify | read) run "$side" "$chip.$step" --port "$target" "$step" "$file" ;;
        *) run "$side" "$chip.$step" --port "$target" "$step" ;;
      esac
    done
    stop_sim
  done
  for step in "${steps[@]}"; do
    check "$chip $step: texts and exit code as on Linux" same_run "$chip.$step"
  done
  check "$chip: program and verify succeed" eval \
    'rc_is win.$chip.program 0 && rc_is win.$chip.verify 0'
  check "$chip: frames as on Linux" same "$work/linux.$chip.frames" "$work/win.$chip.frames"
  check "$chip: read file under a Polish name as on Linux" \
    same "$work/linux.$chip.read.hex" "$windir/odczyt $chip.hex"
done
check "list of a Polish file name, UTF-8 into a pipe" eval \
  'run linux list list "$demo"; run win list list "C:\\Użytkownik\\płytka.hex";
   same_run list && has "$work/win.list.raw" " Odczytano 150 bajtów."'

# A job under Polish names, made from the same command line on both sides and run twice: the same
# texts, frames and log rows (the second chip gets the next serial number), and a changed image
# refused before anything is sent. The prefix outlives a run: its counter and log start afresh.
rm -f "$windir/dziennik zmiany."*
for side in linux win; do
  if [ "$side" = linux ]; then
    mkdir -p "$work/zadania"
    cp "$demo" "$work/zadania/płytka.hex"
    jdir=$work/zadania/
  else
    jdir='C:\Użytkownik\'
  fi
  run "$side" job.save --chip 89C2051 --serial 7F0:2:100 --log "${jdir}dziennik zmiany.csv" \
    --save-job "${jdir}płytka.zjob" program "${jdir}płytka.hex"
  start_sim "$work/$side.job.frames" --chip 89C2051
  target=$port
  [ "$side" = linux ] && target=$pts
  run "$side" job.first --job "${jdir}płytka.zjob" --port "$target"
  run "$side" job.second --job "${jdir}płytka.zjob" --port "$target"
  stop_sim
done
rows() { cut -d, -f3,4,6-9,12 "$1"; }  # chip, command, image, serial, result, job
check "job: saved and run twice, texts and exit codes as on Linux" eval \
  'rc_is win.job.save 0 && same_run job.first && same_run job.second && rc_is win.job.second 0'
check "job: frames as on Linux" same "$work/linux.job.frames" "$work/win.job.frames"
check "job: log rows as on Linux, serial numbers 100 and 101" eval \
  'same <(rows "$work/zadania/dziennik zmiany.csv") <(rows "$windir/dziennik zmiany.csv") &&
   [ "$(rows "$windir/dziennik zmiany.csv" | cut -d, -f5 | tr "\n" " ")" = "serial 100 101 " ]'
{ echo ":0100FF00AA56"; cat "$demo"; } >"$windir/płytka.hex"
run win job.changed --job 'C:\Użytkownik\płytka.zjob' --port "$port"
check "job: a changed image refused before any frame" eval \
  'rc_is win.job.changed 1 && has "$work/win.job.changed.err" "has changed since the job was made" &&
   ! has "$work/win.job.changed.out" "Błąd transmisji"'
cp "$demo" "$windir/płytka.hex"

# A console: wine gives a program on a terminal a console, which shows text in its code page
# unless it comes as UTF-16. Texts, then the progress bar of a read.
on_console() {  # on_console NAME ARGS...: zelwik-cli.exe on a console; $work/console.NAME
  local name=$1 cmd
  shift
  cmd=$(printf '%q ' "$wine" "$cli_win" "$@")
  LANG=C.UTF-8 timeout 60 script -qec "$cmd" /dev/null </dev/null |
    sed 's/\x1b\[[0-9?;]*[a-zA-Z]//g' >"$work/console.$name" 2>&1
}
on_console list list 'C:\Użytkownik\płytka.hex'
check "console: Polish letters" has "$work/console.list" " Odczytano 150 bajtów."
start_sim "$work/console.frames" --chip 89C51
on_console read --port "$port" read 'C:\konsola.hex'
stop_sim
check "console: progress bar, then the texts" eval \
  'has "$work/console.read" "B/s" &&
   has "$work/console.read" "[##############################] 4096/4096 B" &&
   has "$work/console.read" " Odczytywanie zakończono..."'

# The port list: COM7 answers, COM8 is silent; neither is in SERIALCOMM (wine lists only COM1
# there), so both are found by opening them. --port auto then takes COM7.
rm -f "$WINEPREFIX/dosdevices/${port,,}"
"$sim" --chip 89C52 >"$work/sim7.out" 2>>"$work/sim.err" &
sim7=$!
"$sim" --chip 89C52 --never-answer >"$work/sim8.out" 2>>"$work/sim.err" &
sim8=$!
for _ in $(seq 200); do [ -s "$work/sim7.out" ] && [ -s "$work/sim8.out" ] && break; sleep 0.02; done
ln -sfn "$(head -n 1 "$work/sim7.out")" "$WINEPREFIX/dosdevices/com7"
ln -sfn "$(head -n 1 "$work/sim8.out")" "$WINEPREFIX/dosdevices/com8"
run win ports ports
run win probe ports --probe
run win auto --port auto signature-maker
kill "$sim7" "$sim8" 2>/dev/null
wait "$sim7" "$sim8" 2>/dev/null
rm -f "$WINEPREFIX/dosdevices/com7" "$WINEPREFIX/dosdevices/com8"
check "ports: COM7 and COM8 found by opening them" eval \
  'rc_is win.ports 0 && has "$work/win.ports.out" "COM7  window: Interfejs, COM7" &&
   has "$work/win.ports.out" "COM8  window: Interfejs, COM8"'
check "ports --probe: COM7 the programmer, COM8 silent" eval \
  'has "$work/win.probe.out" "COM7  programmer" && has "$work/win.probe.out" "COM8  no answer"'
check "--port auto takes COM7" eval \
  'rc_is win.auto 0 && has "$work/win.auto.out" " Sygnatura producenta=1EH"'

# A slow adapter: the warning, once, names the setting in Device Manager.
start_sim "$work/slow.frames" --chip 89C52 --latency 10
run win slow --port "$port" program 'C:\Użytkownik\płytka.hex'
stop_sim
check "slow link: warned once, with the Device Manager setting" eval \
  'rc_is win.slow 0 && [ "$(grep -c "slow link" "$work/win.slow.err")" = 1 ] &&
   has "$work/win.slow.err" "Port Settings, Advanced, Latency Timer (msec): 1"'

# Faults. Each ends with the link failure text, never a success, within the reply bound plus 1 s
# (beyond the start of wine, measured by --help).
run win start --help
startup=$(cat "$work/win.start.ms")
within() {  # within NAME BOUND_MS
  local ms
  ms=$(cat "$work/win.$1.ms")
  [ $((ms - startup)) -le "$2" ] || { echo "$1 took $ms ms (wine start $startup ms)"; false; }
}
link_failed() {
  rc_is "win.$1" 1 && has "$work/win.$1.out" "Błąd transmisji lub brak programatora"
}
fault() {  # fault NAME BOUND_MS SIM-OPTIONS... -- CLI-ARGS...: both sides, compared
  local name=$1 bound=$2 sim_args=() cli_args=()
  shift 2
  while [ "$1" != -- ]; do sim_args+=("$1"); shift; done
  shift
  cli_args=("$@")
  start_sim "$work/linux.$name.frames" "${sim_args[@]}"
  run linux "$name" --port "$pts" "${cli_args[@]//@FILE@/$work/linux.$name.hex}"
  stop_sim
  start_sim "$work/win.$name.frames" "${sim_args[@]}"
  run win "$name" --port "$port" "${cli_args[@]//@FILE@/C:\\$name.hex}"
  stop_sim
  check "$name: link failure text" link_failed "$name"
  check "$name: texts and frames as on Linux" eval \
    "same_run $name && same $work/linux.$name.frames $work/win.$name.frames"
  check "$name: ends in time" within "$name" "$bound"
}
# The reply bound is 2 s unless --timeout says otherwise. A double reply shows only at the
# operation's closing frame, so that read is of the smallest chip.
fault absent 3000 --chip 89C51 --never-answer -- erase
fault silent-after-40 1500 --chip 89C51 --stop-after 40 -- --timeout 500 read @FILE@
fault double-reply 3000 --chip 89C1051 --double-reply 30 -- read @FILE@
check "silent after frame 40: no file written" test ! -e "$WINEPREFIX/drive_c/silent-after-40.hex"

# A second Ctrl+C while the program waits for a reply that will not come within its 30 s bound
# (wine turns SIGINT into the console's Ctrl+C): the program ends within a second of it, with
# 130 and the line as it was found.
start_sim "$work/ctrl-c.frames" --chip 89C51 --stop-after 1
stty -F "$pts" 9600
"$wine" "$cli_win" --timeout 30000 --port "$port" erase >"$work/win.ctrl-c.raw" 2>&1 </dev/null &
victim=$!
for _ in $(seq 250); do [ "$(wc -l <"$work/ctrl-c.frames")" -ge 2 ] && break; sleep 0.02; done
kill -INT "$victim"
sleep 0.3
second=$(now_ms)
kill -INT "$victim"
wait "$victim"
echo $? >"$work/win.ctrl-c.rc"
echo $(($(now_ms) - second)) >"$work/win.ctrl-c.ms"
line=$(stty -F "$pts" speed)
stop_sim
check "second Ctrl+C during a reply's wait: 130 within a second, the line put back" eval \
  'rc_is win.ctrl-c 130 && [ "$(cat "$work/win.ctrl-c.ms")" -le 1000 ] && [ "$line" = 9600 ] ||
   { echo "rc $(cat "$work/win.ctrl-c.rc"), $(cat "$work/win.ctrl-c.ms") ms, speed $line"; false; }'

# The console window closed during that wait, as the system tells it (zelwik_probe): a hang-up,
# 129 and the line put back, before the system's 5 s are up.
start_sim "$work/closed.frames" --chip 89C51 --stop-after 1
stty -F "$pts" 9600
"$wine" "$cli_win" --timeout 30000 --port "$port" erase >"$work/win.closed.raw" 2>&1 </dev/null &
victim=$!
for _ in $(seq 250); do [ "$(wc -l <"$work/closed.frames")" -ge 2 ] && break; sleep 0.02; done
closed=$(now_ms)
"$wine" "$win/win/zelwik_probe.exe" console-closed zelwik-cli.exe
wait "$victim"
echo $? >"$work/win.closed.rc"
echo $(($(now_ms) - closed)) >"$work/win.closed.ms"
line=$(stty -F "$pts" speed)
stop_sim
check "console closed during a reply's wait: 129 within 5 s, the line put back" eval \
  'rc_is win.closed 129 && [ "$(cat "$work/win.closed.ms")" -le 5000 ] && [ "$line" = 9600 ] ||
   { echo "rc $(cat "$work/win.closed.rc"), $(cat "$work/win.closed.ms") ms, speed $line"; false; }'

# A port held by another run of zelwik-cli.exe: a clean refusal naming the port, and the holder's
# read goes on undisturbed.
start_sim "$work/held.frames" --chip 89C51 --flash "$demo" --baud 38400
"$wine" "$cli_win" --port "$port" read 'C:\held.hex' >"$work/holder.out" 2>&1 &
holder=$!
for _ in $(seq 250); do [ "$(wc -l <"$work/held.frames")" -gt 20 ] && break; sleep 0.02; done
run win in-use --port "$port" erase
wait "$holder"
holder_rc=$?
stop_sim
check "port in use: refused by name" eval \
  'link_failed in-use &&
   has "$work/win.in-use.err" "cannot open $port: port in use by another program"'
check "port in use: ends in time" within in-use 3000
start_sim "$work/linux.held.frames" --chip 89C51 --flash "$demo"
run linux held --port "$pts" read "$work/held.hex"
stop_sim
check "port in use: the holder's read undisturbed" eval \
  '[ $holder_rc = 0 ] && same "$work/linux.held.frames" "$work/held.frames" &&
   same "$work/held.hex" "$WINEPREFIX/drive_c/held.hex"'

# The adapter pulled out in the middle of a read: the simulator and its pty go away.
start_sim "$work/pulled.frames" --chip 89C51 --baud 38400
"$wine" "$cli_win" --port "$port" read 'C:\pulled.hex' >"$work/win.pulled.raw" 2>&1 &
reader=$!
for _ in $(seq 250); do [ "$(wc -l <"$work/pulled.frames")" -gt 100 ] && break; sleep 0.02; done
pulled=$(now_ms)
stop_sim
wait "$reader"
echo $? >"$work/win.pulled.rc"
echo $(($(now_ms) - pulled + startup)) >"$work/win.pulled.ms"
tr -d '\r' <"$work/win.pulled.raw" >"$work/win.pulled.out"
check "adapter pulled out mid-read: link failure" link_failed pulled
check "adapter pulled out mid-read: ends in time" within pulled 3000

for missing in COM199 COM3; do
  rm -f "$WINEPREFIX/dosdevices/${missing,,}"
  run win "missing-$missing" --port "$missing" erase
  check "$missing does not exist: refused" eval \
    "link_failed missing-$missing && has $work/win.missing-$missing.err 'cannot open'"
  check "$missing does not exist: ends in time" within "missing-$missing" 3000
done

zip=$win/zelwik-$(sed -n 's/^project(zelwik VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)-win64.zip
rm -f "$zip"
(cd "$win" && cpack -G ZIP >/dev/null 2>&1)
check "cpack makes the zip with the program, README and licence" eval \
  '[ "$(cmake -E tar tf "$zip" 2>/dev/null | grep -v "/\$" | sed "s|^[^/]*/||" | sort |
       tr "\n" " ")" = "LICENSE README.md zelwik-cli.exe zelwik.exe " ]'

finish
