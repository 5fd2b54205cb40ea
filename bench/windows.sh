#!/usr/bin/env bash
# The Windows build's speed under wine beside the Linux one, all in this one run.
#   bench/windows.sh [ROUNDS]     (default 5; run tests/windows/run.sh once first)
# Row 1's 32 KiB read through zelwik-cli.exe under wine, the Linux zelwik-cli and the bare
# reference client, in rotating order against one zelwik-sim; wine's start-up alone
# (zelwik-cli.exe --help); and the absent programmer on the Win32 link and on the POSIX one:
# open, the probe's 50 polls and close against zelwik-sim --never-answer, timed in process
# (bench/probe_time), and the whole zelwik-cli erase that reports it.
set -euo pipefail
export LC_ALL=C
cd "$(dirname "$0")/.."
rounds=${1:-5}
build=build/release
win=build/windows
cmake --build "$build" --target zelwik-cli zelwik-sim zelwik_bench probe_time >/dev/null
cmake --build "$win" --target zelwik-cli probe_time >/dev/null
wine=$(command -v /usr/lib/wine/wine64 wine64 wine 2>/dev/null | head -n 1)
export WINEPREFIX=$PWD/$win/wine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
[ -f "$WINEPREFIX/system.reg" ] || { echo "run tests/windows/run.sh first"; exit 1; }
"$(dirname "$wine")/wineserver" -f -p >/dev/null 2>&1 &
server_pid=$!
"$wine" "$win/cli/zelwik-cli.exe" --help >/dev/null 2>&1 </dev/null
tmp=$(mktemp -d)
sim_pid=""
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null
  "$(dirname "$wine")/wineserver" -k >/dev/null 2>&1
  rm -rf "$tmp"
}
trap cleanup EXIT

start_sim() {
  : >"$tmp/sim-path"
  "$build/sim/zelwik-sim" "$@" >"$tmp/sim-path" &
  sim_pid=$!
  for _ in $(seq 100); do [ -s "$tmp/sim-path" ] && break; sleep 0.05; done
  sim_dev=$(head -n 1 "$tmp/sim-path")
  ln -sfn "$sim_dev" "$WINEPREFIX/dosdevices/com17"
}
stop_sim() {
  kill "$sim_pid"
  wait "$sim_pid" 2>/dev/null || true
  sim_pid=""
}
ms() {  # ms COMMAND...: wall time of the command in ms, its output discarded
  local t0=$EPOCHREALTIME
  "$@" >/dev/null 2>&1 </dev/null || true
  awk -v a="$t0" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.1f", (b - a) * 1000 }'
}
median() { printf '%s\n' "$@" | sort -g | awk '{v[NR]=$1} END {
  if (NR % 2) printf "%.1f", v[(NR+1)/2]; else printf "%.1f", (v[NR/2]+v[NR/2+1])/2 }'; }

echo "machine: $(nproc) cores, load average at start: $(cut -d' ' -f1-3 /proc/loadavg)"
awk 'BEGIN { for (a = 0; a < 20480; a += 16) {
  printf ":10%04X00", a; s = 16 + int(a / 256) + a % 256
  for (i = 0; i < 16; i++) { b = (a + i) * 7 % 256; printf "%02X", b; s += b }
  printf "%02X\n", (256 - s % 256) % 256 } print ":00000001FF" }' >"$tmp/flash.hex"
start_sim --chip 89C55 --flash "$tmp/flash.hex"
ref=() lin=() exe=() start=()
read=(--chip other read)
for i in $(seq "$rounds"); do
  steps=(ref lin exe)
  for k in $(seq $((i % 3))); do steps=("${steps[@]:1}" "${steps[0]}"); done
  for s in "${steps[@]}"; do
    case $s in
      ref) ref+=("$(ms "$build/bench/zelwik_bench" reference "$sim_dev")") ;;
      lin) lin+=("$(ms "$build/cli/zelwik-cli" --port "$sim_dev" "${read[@]}" "$tmp/l.hex")") ;;
      exe) exe+=("$(ms "$wine" "$win/cli/zelwik-cli.exe" --port COM17 "${read[@]}" 'C:\w.hex')") ;;
    esac
  done
  start+=("$(ms "$wine" "$win/cli/zelwik-cli.exe" --help)")
  echo "  round $i: reference ${ref[-1]} ms, zelwik-cli ${lin[-1]} ms," \
    "zelwik-cli.exe ${exe[-1]} ms, wine start ${start[-1]} ms"
done
# Processor time, which the load of a shared machine disturbs far less than wall time: the
# client's own (user + system) and, under wine, the wine server's share.
cpu_ms() {  # cpu_ms COMMAND...: the command's processor time in ms
  (
    "$@" >/dev/null 2>&1 </dev/null || true
    times
  ) | tail -n 1 | awk '{ split($1, u, /[ms]/); split($2, s, /[ms]/)
    printf "%.0f", (u[1] * 60 + u[2] + s[1] * 60 + s[2]) * 1000 }'
}
server_ms() { awk '{ printf "%.0f", ($14 + $15) * 1000 / '"$(getconf CLK_TCK)"' }' \
  "/proc/$server_pid/stat"; }
for s in ref lin exe; do
  case $s in
    ref) c=$(cpu_ms "$build/bench/zelwik_bench" reference "$sim_dev") ;;
    lin) c=$(cpu_ms "$build/cli/zelwik-cli" --port "$sim_dev" "${read[@]}" "$tmp/l.hex") ;;
    exe)
      before=$(server_ms)
      c=$(cpu_ms "$wine" "$win/cli/zelwik-cli.exe" --port COM17 "${read[@]}" 'C:\w.hex')
      c="$c ms, wine server $(($(server_ms) - before))"
      ;;
  esac
  echo "  processor time, $s: $c ms"
done
stop_sim
cmp -s "$tmp/l.hex" "$WINEPREFIX/drive_c/w.hex" || { echo "the two reads differ"; exit 1; }
echo "32 KiB read, medians: reference $(median "${ref[@]}") ms," \
  "zelwik-cli $(median "${lin[@]}") ms," \
  "zelwik-cli.exe under wine $(median "${exe[@]}") ms, wine start $(median "${start[@]}") ms"

start_sim --chip 89C51 --never-answer
exe=() lin=()
for i in $(seq "$rounds"); do
  exe+=("$(ms "$wine" "$win/cli/zelwik-cli.exe" --port COM17 erase)")
  lin+=("$(ms "$build/cli/zelwik-cli" --port "$sim_dev" erase)")
done
echo "absent programmer, medians of 9 in process: Win32 link" \
  "$("$wine" "$win/bench/probe_time.exe" COM17 9 </dev/null 2>&1 | tr -d '\r') ms," \
  "POSIX link $("$build/bench/probe_time" "$sim_dev" 9) ms;" \
  "whole erase: zelwik-cli.exe $(median "${exe[@]}") ms, zelwik-cli $(median "${lin[@]}") ms"
stop_sim
