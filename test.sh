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

# Fuzz smoke: every libFuzzer target for ~20 s on a copy of its seed corpus (clang, build/fuzz).
tests/fuzz/run.sh all 20
