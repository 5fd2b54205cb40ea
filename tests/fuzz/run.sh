#!/usr/bin/env bash
# Builds the libFuzzer targets in build/fuzz (clang) and runs them on a copy of their seed corpus.
#   tests/fuzz/run.sh TARGET SECONDS   one target, e.g. tests/fuzz/run.sh fuzz_formats 600
#                                      (fuzz_formats, fuzz_ops, fuzz_job)
#   tests/fuzz/run.sh all SECONDS      every fuzz_* target in turn
# Exits non-zero when a target crashes; the crashing input is left in build/fuzz/crashes/.
set -euo pipefail
[ $# -eq 2 ] || { echo "usage: $0 TARGET|all SECONDS" >&2; exit 2; }
target=$1
seconds=$2
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=$root/build/fuzz

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++ -DZELWIK_FUZZ=ON -DZELWIK_GUI=OFF -DZELWIK_TESTS=ON \
  -DZELWIK_BENCH=OFF >/dev/null
if [ "$target" = all ]; then
  cmake --build "$build" -j 2 --target fuzz_all
  mapfile -t targets < <(find "$build/tests/fuzz" -maxdepth 1 -type f -executable -name 'fuzz_*' \
                           -printf '%f\n' | sort)
else
  cmake --build "$build" -j 2 --target "$target"
  targets=("$target")
fi

mkdir -p "$build/crashes"
for t in "${targets[@]}"; do
  what=${t#fuzz_}
  work=$build/corpus/$what
  rm -rf "$work"
  mkdir -p "$work"
  # A copy, so the checked-in seeds never grow with generated inputs.
  if [ -d "$here/corpus/$what" ]; then cp "$here/corpus/$what"/. "$work" -r; fi
  dict=()
  [ -f "$here/$what.dict" ] && dict=("-dict=$here/$what.dict")
  echo "== $t for ${seconds} s"
  if ! "$build/tests/fuzz/$t" "$work" "${dict[@]}" -max_total_time="$seconds" -timeout=10 \
       -rss_limit_mb=2048 -artifact_prefix="$build/crashes/$t-" -print_final_stats=1 2>&1 | tail -n 20
  then
    echo "$t failed; the input is in $build/crashes/" >&2
    exit 1
  fi
done
