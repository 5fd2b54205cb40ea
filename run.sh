#!/usr/bin/env bash
# Installs what is missing, builds in Release and starts the program.
#   ./run.sh [FILE.hex]   the window, optionally loading a HEX file
#   ./run.sh demo         a simulated programmer with an 89C2051 on COM2, and the window
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/release -j "$(nproc)" --target zelwik zelwik-sim zelwik-cli
bin=build/release
if [ "${1:-}" = "demo" ]; then
  shift
  fifo=$(mktemp -u)
  mkfifo "$fifo"
  "$bin/sim/zelwik-sim" --chip 89C2051 --flash sim/demo/blink.hex --baud 115200 >"$fifo" &
  sim=$!
  trap 'kill $sim 2>/dev/null; rm -f "$fifo"' EXIT
  if ! read -r device <"$fifo" || [ -z "$device" ]; then
    echo "run.sh: the simulated programmer did not start" >&2
    exit 1
  fi
  echo "Simulated 89C2051 programmer on $device (COM2)"
  ZELWIK_COM2="$device" "$bin/app/zelwik" "$@"
else
  exec "$bin/app/zelwik" "$@"
fi
