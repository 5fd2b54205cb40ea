#!/usr/bin/env bash
# Installs what is missing, builds and runs every test through CTest; non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh
jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen

cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build build/release -j "$jobs"
ctest --test-dir build/release --output-on-failure -j "$jobs"

# The whole suite again under AddressSanitizer, LeakSanitizer and UBSan; any report fails the run.
cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZELWIK_SANITIZE=ON \
  -DZELWIK_BENCH=OFF
cmake --build build/asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  ctest --test-dir build/asan --output-on-failure -j "$jobs"

# Fuzz smoke: every libFuzzer target for ~20 s on a copy of its seed corpus (clang, build/fuzz).
tests/fuzz/run.sh all 20
