#!/usr/bin/env bash
# Many short runs of zelwik-cli.exe under wine against zelwik-sim on COM7, each with a time bound.
# A run that outlives its bound is reported with where its threads stood (kernel wait channel and
# system call of every thread, wine's own backtraces, the simulator's last frames), then killed.
#   tests/windows/soak.sh [RUNS] [LINUX_BUILD]   RUNS 1000; LINUX_BUILD has zelwik-sim (build/release)
# Needs build/windows (tests/windows/run.sh makes it). Environment:
#   SOAK_BOUND    seconds a run may take (10)
#   SOAK_MINUTES  the whole loop stops after this many minutes (60)
#   SOAK_TRACE    WINEDEBUG of the runs (-all); the trace of a hung run is kept
#   SOAK_SERVER   persistent: one wine server for the whole loop (as run.sh has it); transient:
#                 each run finds a server stopping or none and starts one (as a lone wine does)
#   SOAK_OUT      folder of the reports (a new temporary one)
# Last line: "soak: N runs, M hung, K failed, slowest S ms"; non-zero exit status when M or K is.
set -uo pipefail
cd "$(dirname "$0")/../.."
root=$PWD
runs=${1:-1000}
linux=${2:-build/release}
win=build/windows
bound=${SOAK_BOUND:-10}
deadline=$(($(date +%s) + ${SOAK_MINUTES:-60} * 60))
out=${SOAK_OUT:-$(mktemp -d)}
mkdir -p "$out"
wine=$(command -v /usr/lib/wine/wine64 wine64 wine 2>/dev/null | head -n 1)
wineserver=$(dirname "$wine")/wineserver
[ -x "$wineserver" ] || wineserver=$(command -v wineserver)
sim=$root/$linux/sim/zelwik-sim
[ -x "$sim" ] && [ -f "$win/cli/zelwik-cli.exe" ] || { echo "soak: build $linux and $win first"; exit 1; }
# A copy and a prefix of its own: a rebuild or run.sh (which stops its wine server) may go on
# meanwhile.
cli=$out/zelwik-cli.exe
cp "$win/cli/zelwik-cli.exe" "$cli"

export WINEPREFIX=$root/$win/soak-wine-${SOAK_SERVER:-persistent} WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
. tests/windows/wine_prefix.sh
make_wine_prefix "$wine" "$wineserver" || { echo "soak: no usable wine prefix"; exit 1; }
server=${SOAK_SERVER:-persistent}
[ "$server" = persistent ] && { "$wineserver" -p >/dev/null 2>&1 & }
"$wine" "$cli" --help >/dev/null 2>&1 </dev/null

sim_pid=""
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null
  "$wineserver" -k >/dev/null 2>&1
}
trap cleanup EXIT
trap 'exit 1' INT TERM
start_sim() {
  [ -n "$sim_pid" ] && { kill "$sim_pid" 2>/dev/null; wait "$sim_pid" 2>/dev/null; }
  : >"$out/sim.out"
  "$sim" --chip 89C1051 --log "$out/frames" >"$out/sim.out" 2>/dev/null &
  sim_pid=$!
  for _ in $(seq 200); do [ -s "$out/sim.out" ] && break; sleep 0.02; done
  ln -sfn "$(head -n 1 "$out/sim.out")" "$WINEPREFIX/dosdevices/com7"
}

report() {  # report PID N: the state of a hung run
  local pid=$1 n=$2 f=$out/hung-$n.txt task
  {
    echo "run $n: zelwik-cli.exe ${args[*]} (pid $pid) still running after $bound s"
    echo "--- processes"
    ps -eo pid,ppid,stat,wchan:28,etimes,args | grep -E 'wine|zelwik|\.exe|PID' | grep -v grep
    echo "--- threads of the wine processes"
    ps -eLo pid,tid,stat,wchan:28,comm | grep -E '\.exe|wine|PID' | grep -v grep
    for task in /proc/"$pid"/task/*; do
      echo "--- thread ${task##*/} $(cat "$task/comm" 2>/dev/null): $(cat "$task/wchan" 2>/dev/null)"
      echo "syscall: $(cat "$task/syscall" 2>/dev/null)"
      cat "$task/stack" 2>/dev/null
    done
    echo "--- descriptors"
    ls -l /proc/"$pid"/fd 2>/dev/null
    echo "--- wine backtraces"
    WINEDEBUG=-all timeout 60 "$wine" winedbg --command "bt all" 2>&1 </dev/null
    echo "--- last frames of the simulator (alive: $(kill -0 "$sim_pid" 2>/dev/null && echo yes || echo no))"
    tail -n 5 "$out/frames"
  } >"$f" 2>&1
  [ -s "$out/run.trace" ] && cp "$out/run.trace" "$out/hung-$n.trace"
}

commands=("signature-device" "erase" "signature-maker" "read C:\\soak.hex" "--timeout 300 blank-check")
n=0
hung=0
failed=0
slowest=0
start_sim
while [ "$n" -lt "$runs" ] && [ "$(date +%s)" -lt "$deadline" ]; do
  n=$((n + 1))
  [ $((n % 100)) -eq 0 ] && start_sim
  read -ra args <<<"${commands[$((n % ${#commands[@]}))]}"
  WINEDEBUG=${SOAK_TRACE:--all} "$wine" "$cli" --port COM7 "${args[@]}" \
    >"$out/run.out" 2>"$out/run.trace" </dev/null &
  pid=$!
  begun=$(($(date +%s%N) / 1000000))
  while kill -0 "$pid" 2>/dev/null && [ $(($(date +%s%N) / 1000000 - begun)) -lt $((bound * 1000)) ]; do
    sleep 0.05
  done
  took=$(($(date +%s%N) / 1000000 - begun))
  if kill -0 "$pid" 2>/dev/null; then
    hung=$((hung + 1))
    report "$pid" "$n"
    echo "run $n hung: ${args[*]} (report $out/hung-$n.txt)"
    kill -9 "$pid" 2>/dev/null
  fi
  wait "$pid"
  rc=$?
  if [ "$rc" -ne 0 ] && [ "$rc" -ne 137 ]; then
    failed=$((failed + 1))
    cp "$out/run.out" "$out/failed-$n.out"
    echo "run $n failed with $rc: ${args[*]}"
  fi
  [ "$took" -gt "$slowest" ] && slowest=$took
  [ "$took" -gt 3000 ] && echo "run $n took $took ms: ${args[*]}"
  [ $((n % 200)) -eq 0 ] && echo "soak: $n runs so far, $hung hung, $failed failed, slowest $slowest ms"
done
echo "soak: $n runs, $hung hung, $failed failed, slowest $slowest ms"
[ "$hung" -eq 0 ] && [ "$failed" -eq 0 ]
