#!/usr/bin/env bash
# Zelwik's speed against its references, all measured in this one run on this machine. The rows a
# user feels are the wire-paced ones (1w, 3, 6); the unpaced pseudo-terminal rows (1, 1c, 2) are
# guards against waste: there the pty and the scheduler are most of what is measured.
#   bench/run.sh [RUNS] [WIRE_RUNS] [FAST_RUNS]
#     medians of RUNS runs (default 5), WIRE_RUNS for the wire-paced rows 3 and 6 (default 3, each
#     about 16 s for each of the reference client, zelwik-cli and the window) and FAST_RUNS rounds
#     for rows 1 and 2 (default 15, about 4 s each): those swing by a third from run to run here,
#     so they take more rounds, in a rotating order. Row 7 takes WIRE_RUNS as well.
# Builds in Release in build/bench. Not part of test.sh: timings belong to a quiet machine.
set -euo pipefail
export LC_ALL=C
cd "$(dirname "$0")/.."
runs=${1:-5}
wire_runs=${2:-3}
fast_runs=${3:-15}
build=build/bench

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
targets=(zelwik-cli zelwik-sim zelwik_bench sim_pacing)
window=0
if grep -q '^ZELWIK_GUI:BOOL=ON' "$build/CMakeCache.txt"; then
  targets+=(window_read_time)
  window=1
fi
ninja -C "$build" -j2 "${targets[@]}" >/dev/null

cli=$build/cli/zelwik-cli
sim=$build/sim/zelwik-sim
bench=$build/bench/zelwik_bench
tmp=$(mktemp -d)
sim_pid=""
line_pids=()
cleanup() {
  if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null || true; fi
  for pid in "${line_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$tmp"
}
trap cleanup EXIT

die() { echo "bench/run.sh: $*" >&2; exit 1; }

# Starts zelwik-sim with the given options; sets sim_pid and sim_dev.
start_sim() {
  local out=$tmp/sim-path
  : >"$out"
  "$sim" "$@" >"$out" 2>>"$tmp/sim.log" &
  sim_pid=$!
  for _ in $(seq 100); do
    [ -s "$out" ] && break
    kill -0 "$sim_pid" 2>/dev/null || break
    sleep 0.05
  done
  sim_dev=$(head -n1 "$out")
  [ -n "$sim_dev" ] || die "zelwik-sim $* did not start: $(cat "$tmp/sim.log")"
}
stop_sim() {
  kill "$sim_pid" 2>/dev/null || true
  wait "$sim_pid" 2>/dev/null || true
  sim_pid=""
}

median() { printf '%s\n' "$@" | sort -g | awk '{v[NR]=$1} END {
  if (NR % 2) printf "%.3f", v[(NR+1)/2]; else printf "%.3f", (v[NR/2]+v[NR/2+1])/2 }'; }
min_max() { printf '%s\n' "$@" | sort -g | awk 'NR == 1 { a = $1 } { b = $1 } END {
  printf "from %s to %s", a, b }'; }
ratio() { awk -v o="$1" -v r="$2" 'BEGIN { printf "%.3f", o / r }'; }
elapsed_ms() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", (b - a) * 1000 }'; }

rows=()
# row NAME OURS_MS REFERENCE_MS TARGET_RATIO REFERENCE_NAME
row() {
  local verdict
  verdict=$(awk -v o="$2" -v r="$3" -v t="$4" 'BEGIN {
    q = o / r; printf "%.3f %s", q, (q <= t ? "met" : "MISSED") }')
  rows+=("$(printf '%-34s %11.1f %11.1f  %-16s %6s  <= %-5s %s' "$1" "$2" "$3" "$5" \
    "${verdict% *}" "$4" "${verdict#* }")")
  echo "  ${rows[-1]}"
}

# 7: four programmers at once, each at the wire's pace, against one alone: a 4 KiB program of an
# 89C51 on each. The ports run on threads of their own, so four take the time of one.
row7() {
  echo "row 7: program 4 KiB, four zelwik-sim --baud 115200 at once against one alone"
  head -c 4096 /dev/urandom >"$tmp/line.bin"
  srec_cat "$tmp/line.bin" -binary -o "$tmp/line.hex" -intel -output_block_size 16
  local devs=() i out
  for i in 1 2 3 4; do
    out=$tmp/line-sim$i
    "$sim" --chip 89C51 --baud 115200 >"$out" 2>>"$tmp/sim.log" &
    line_pids+=($!)
    for _ in $(seq 100); do [ -s "$out" ] && break; sleep 0.05; done
    devs+=("$(head -n1 "$out")")
    [ -n "${devs[-1]}" ] || die "zelwik-sim for row 7 did not start: $(cat "$tmp/sim.log")"
  done
  local one=() four=() t0 t1
  for i in $(seq "$wire_runs"); do
    t0=$EPOCHREALTIME
    "$cli" --port "${devs[0]}" program "$tmp/line.hex" >"$tmp/line.out" ||
      die "zelwik-cli program failed: $(cat "$tmp/line.out")"
    t1=$EPOCHREALTIME
    one+=("$(elapsed_ms "$t0" "$t1")")
    t0=$EPOCHREALTIME
    "$cli" --port "${devs[0]}" --port "${devs[1]}" --port "${devs[2]}" --port "${devs[3]}" \
      program "$tmp/line.hex" >"$tmp/line.out" ||
      die "zelwik-cli on four ports failed: $(cat "$tmp/line.out")"
    t1=$EPOCHREALTIME
    four+=("$(elapsed_ms "$t0" "$t1")")
    echo "  run $i: one port ${one[-1]} ms, four ports ${four[-1]} ms"
  done
  for pid in "${line_pids[@]}"; do kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; done
  line_pids=()
  row "7 four programmers at once" "$(median "${four[@]}")" "$(median "${one[@]}")" 1.10 "one programmer"
}
# BENCH_ONLY=7 bench/run.sh: that row alone.
if [ "${BENCH_ONLY:-}" = 7 ]; then
  row7
  exit 0
fi

echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //'),"\
  "kernel $(uname -r)"
echo "load average at start: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "runs: $runs (wire-paced: $wire_runs, rows 1-2: $fast_runs)"
echo "the simulator's pacing (the wire-paced rows stand on it):"
"$build/bench/sim_pacing" | sed 's/^/  /' || die "zelwik-sim answers faster than the wire"

# The chip's content: 20 KiB of random bytes, so the listing and the HEX file are full.
head -c 20480 /dev/urandom >"$tmp/flash.bin"
srec_cat "$tmp/flash.bin" -binary -o "$tmp/flash.hex" -intel -output_block_size 16

# 1 and 2: a 32 KiB read against a programmer that answers at once.
echo "rows 1-2: 32 KiB read (chip 'other'), zelwik-sim answering at once"
start_sim --chip 89C55 --flash "$tmp/flash.hex"
ref_proc=() ref_loop=() ref_cpu=() cli_ms=() cli_cpu=() win_ms=() cli_ratio=() win_ratio=()
# cpu_ms FILE: the user and system time that bash's `time` wrote there, in milliseconds.
cpu_ms() { awk '{ printf "%.3f", ($1 + $2) * 1000 }' "$1"; }
run_reference() {
  local t0 t1 loop TIMEFORMAT='%3U %3S'
  t0=$EPOCHREALTIME
  { time "$bench" reference "$sim_dev" >"$tmp/loop"; } 2>"$tmp/ref.cpu"
  t1=$EPOCHREALTIME
  loop=$(cat "$tmp/loop")
  ref_proc+=("$(elapsed_ms "$t0" "$t1")")
  ref_loop+=("$loop")
  ref_cpu+=("$(cpu_ms "$tmp/ref.cpu")")
}
# time_cli ARRAY / time_window ARRAY: one read, its milliseconds appended to ARRAY.
time_cli() {
  local t0 t1 TIMEFORMAT='%3U %3S'
  t0=$EPOCHREALTIME
  { time "$cli" --port "$sim_dev" --chip other read "$tmp/read.hex" >"$tmp/cli.out"; } \
    2>"$tmp/cli.cpu" || die "zelwik-cli read failed: $(cat "$tmp/cli.out")"
  t1=$EPOCHREALTIME
  local -n into=$1
  into+=("$(elapsed_ms "$t0" "$t1")")
  last_cli_cpu=$(cpu_ms "$tmp/cli.cpu")
}
time_window() {
  local w
  w=$(QT_QPA_PLATFORM=offscreen "$build/bench/window_read_time" "$sim_dev" 2>"$tmp/window.log") ||
    die "window read failed: $(cat "$tmp/window.log")"
  local -n into=$1
  into+=("$w")
}
run_cli() {
  time_cli cli_ms
  cli_cpu+=("$last_cli_cpu")
}
run_window() { time_window win_ms; }
order=(run_reference run_cli)
if [ "$window" = 1 ]; then order+=(run_window); fi
for i in $(seq "$fast_runs"); do
  # Each program in turn goes first, so none always follows the same one.
  for k in "${!order[@]}"; do "${order[$(( (k + i) % ${#order[@]} ))]}"; done
  cli_ratio+=("$(ratio "${cli_ms[-1]}" "${ref_proc[-1]}")")
  line="  round $i: reference ${ref_proc[-1]} ms (loop ${ref_loop[-1]}),"
  line+=" zelwik-cli ${cli_ms[-1]} ms"
  if [ "$window" = 1 ]; then
    win_ratio+=("$(ratio "${win_ms[-1]}" "${ref_loop[-1]}")")
    line+=", window ${win_ms[-1]} ms"
  fi
  echo "$line"
done
stop_sim
# What was read must be the chip's content.
srec_cat "$tmp/read.hex" -intel -crop 0 20480 -o "$tmp/read.bin" -binary
cmp -s "$tmp/read.bin" "$tmp/flash.bin" || die "zelwik-cli read something other than the chip's content"
row "1 unpaced pty: zelwik-cli read" "$(median "${cli_ms[@]}")" "$(median "${ref_proc[@]}")" 1.20 "reference client"
echo "  zelwik-cli / reference within each round: median $(median "${cli_ratio[@]}")," \
  "$(min_max "${cli_ratio[@]}")"
row "1c unpaced pty: processor time" "$(median "${cli_cpu[@]}")" "$(median "${ref_cpu[@]}")" 1.50 "reference client"
if [ "$window" = 1 ]; then
  row "2 unpaced pty: window read" "$(median "${win_ms[@]}")" "$(median "${ref_loop[@]}")" 1.30 "reference loop"
  echo "  window / reference loop within each round: median $(median "${win_ratio[@]}")," \
    "$(min_max "${win_ratio[@]}")"
fi

# 3 and 6: the same read at the pace of a 115,200 baud wire; the window against zelwik-cli there.
wire_ms=$(awk 'BEGIN { printf "%.3f", 32768 * 5 * 11 / 115200 * 1000 }')
echo "rows 1w, 3 and 6: 32 KiB read against zelwik-sim --baud 115200 (wire limit $wire_ms ms)"
start_sim --chip 89C55 --flash "$tmp/flash.hex" --baud 115200
paced_ref=() paced_cli=() paced_win=() paced_ratio=()
# The whole process, as zelwik-cli is timed.
paced_reference() {
  local t0 t1
  t0=$EPOCHREALTIME
  "$bench" reference "$sim_dev" >/dev/null
  t1=$EPOCHREALTIME
  paced_ref+=("$(elapsed_ms "$t0" "$t1")")
}
paced_client() { time_cli paced_cli; }
paced_window() { time_window paced_win; }
paced_order=(paced_reference paced_client)
if [ "$window" = 1 ]; then paced_order+=(paced_window); fi
for i in $(seq "$wire_runs"); do
  for k in "${!paced_order[@]}"; do "${paced_order[$(( (k + i) % ${#paced_order[@]} ))]}"; done
  line="  run $i: reference client ${paced_ref[-1]} ms, zelwik-cli ${paced_cli[-1]} ms"
  if [ "$window" = 1 ]; then
    paced_ratio+=("$(ratio "${paced_win[-1]}" "${paced_cli[-1]}")")
    line+=", window ${paced_win[-1]} ms"
  fi
  echo "$line"
done
stop_sim
row "1w wire-paced: zelwik-cli read" "$(median "${paced_cli[@]}")" "$(median "${paced_ref[@]}")" 1.02 "reference paced"
row "3 wire-paced: zelwik-cli read" "$(median "${paced_cli[@]}")" "$wire_ms" 1.03 "wire limit"
row "  (reference client, same pacing)" "$(median "${paced_ref[@]}")" "$wire_ms" 1.03 "wire limit"
if [ "$window" = 1 ]; then
  row "6 wire-paced: window read" "$(median "${paced_win[@]}")" "$(median "${paced_cli[@]}")" 1.02 \
    "zelwik-cli paced"
  echo "  window / zelwik-cli within each run: median $(median "${paced_ratio[@]}")," \
    "$(min_max "${paced_ratio[@]}")"
fi
# Where the time beyond the wire goes: the pty and the scheduler, in each direction.
"$bench" breakdown 8192 | sed 's/^/  /'

# 4: no answer to the probe.
echo "row 4: start of a read to the link failure text, zelwik-sim --never-answer"
start_sim --chip 89C55 --never-answer
absent=()
for i in $(seq "$runs"); do
  ms=$("$bench" absent "$sim_dev")
  absent+=("$ms")
done
stop_sim
echo "  runs: ${absent[*]} ms"
row "4 absent programmer" "$(median "${absent[@]}")" 50 1.20 "50 ms"

# 5: a full 64 KiB image, whole processes on both sides.
echo "row 5: 64 KiB image, HEX load and save, against srec_cat"
head -c 65535 /dev/urandom >"$tmp/image.bin"
printf '\x5a' >>"$tmp/image.bin"  # the last byte is not empty: the file covers all 64 KiB
"$bench" hexsave "$tmp/image.bin" "$tmp/ours.hex" >/dev/null
srec_cat "$tmp/ours.hex" -intel -o "$tmp/check.bin" -binary
cmp -s "$tmp/check.bin" "$tmp/image.bin" || die "the saved HEX file does not hold the image"
hex_runs=$((runs * 4))
load_ours=() load_srec=() save_ours=() save_srec=()
for i in $(seq "$hex_runs"); do
  t0=$EPOCHREALTIME; "$bench" hexload "$tmp/ours.hex" >/dev/null; t1=$EPOCHREALTIME
  load_ours+=("$(elapsed_ms "$t0" "$t1")")
  t0=$EPOCHREALTIME; srec_cat "$tmp/ours.hex" -intel -o /dev/null -binary; t1=$EPOCHREALTIME
  load_srec+=("$(elapsed_ms "$t0" "$t1")")
  t0=$EPOCHREALTIME; "$bench" hexsave "$tmp/image.bin" "$tmp/ours.hex" >/dev/null; t1=$EPOCHREALTIME
  save_ours+=("$(elapsed_ms "$t0" "$t1")")
  t0=$EPOCHREALTIME
  srec_cat "$tmp/image.bin" -binary -o "$tmp/srec.hex" -intel -output_block_size 16
  t1=$EPOCHREALTIME
  save_srec+=("$(elapsed_ms "$t0" "$t1")")
done
row "5a HEX load, 64 KiB" "$(median "${load_ours[@]}")" "$(median "${load_srec[@]}")" 1.00 "srec_cat"
row "5b HEX save, 64 KiB" "$(median "${save_ours[@]}")" "$(median "${save_srec[@]}")" 1.00 "srec_cat"

row7

echo
echo "load average at end: $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-34s %11s %11s  %-16s %6s  %-8s %s\n' "row" "ours ms" "ref ms" "reference" "ratio" "target" ""
printf '%s\n' "${rows[@]}"
