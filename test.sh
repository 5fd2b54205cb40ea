#!/usr/bin/env bash
# Installs what is missing, builds and runs every test through CTest; non-zero on any failure.
#   0. clang-format: every tracked .cpp/.h as .clang-format has it.
#   1. Release build, every test; the Debian package from it, checked by packaging/check-deb.sh.
#   2. The whole suite again under AddressSanitizer, LeakSanitizer and UBSan; any report fails.
#      Then the threaded parts under ThreadSanitizer.
#   3. Fuzz smoke: every libFuzzer target for 20 s on a copy of its seed corpus (clang).
#   4. The Windows build (mingw-w64) under wine: unit tests, zelwik-cli.exe end to end.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh
jobs=$(nproc)

if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  git ls-files -z -- '*.cpp' '*.h'
else
  find . -path ./build -prune -o \( -name '*.cpp' -o -name '*.h' \) -print0
fi | xargs -0 clang-format --dry-run -Werror

export QT_QPA_PLATFORM=offscreen

# The link and operation tests talk to a simulated programmer through real pseudo-terminals, and
# the probe gives it 50 ms to answer: a machine starved for a moment can miss that window once.
# A second run of a failed test is allowed; a test that fails twice fails the suite.
run_ctest() {
  ctest --test-dir "$1" --output-on-failure -j "$jobs" --repeat until-pass:2 | tee "$1/ctest.log"
}

cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build build/release -j "$jobs"
run_ctest build/release
(cd build/release && cpack -G DEB)
packaging/check-deb.sh build/release

cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZELWIK_SANITIZE=ON \
  -DZELWIK_BENCH=OFF
cmake --build build/asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  run_ctest build/asan

# ThreadSanitizer on what has threads: the operation runner and router, the link, the production
# run (a thread per port), both Linux front ends (the Qt window's tests and the command line's).
# Only Qt's and libxcb's own reports are suppressed (tests/tsan.supp).
cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZELWIK_SANITIZE=thread \
  -DZELWIK_BENCH=OFF
cmake --build build/tsan -j "$jobs" --target ui_tests link_tests cli_tests production_tests app_test \
  window_alive_test zelwik-cli zelwik-sim
TSAN_OPTIONS="halt_on_error=1 suppressions=$PWD/tests/tsan.supp" \
  ctest --test-dir build/tsan --output-on-failure -j "$jobs" --repeat until-pass:2 \
  -R '^(RouterTest|OperationRunner|Probe|ReplyBound|Port|DeviceForPort|SimProcess|Model|CommandLine|EndToEnd|Every|NoProgrammer|Ports|ImageFiles|Production|JobRun|app_test|window_alive_test)' \
  | tee build/tsan/ctest.log

tests/fuzz/run.sh all 20

windows_rc=0
tests/windows/run.sh build/release | tee build/windows.log || windows_rc=1
# zelwik.exe, built by the run above, under wine against the simulator; one retry, as for the pty
# tests, since a starved machine can miss a ping's bound.
gui_rc=0
win/tests/gui_test.sh build/windows build/release ||
  win/tests/gui_test.sh build/windows build/release || gui_rc=1
# A job in zelwik.exe: the frames and log rows of zelwik-cli, a changed image refused.
win/tests/job_gui_test.sh build/windows build/release ||
  win/tests/job_gui_test.sh build/windows build/release || gui_rc=1

passed=0
for log in build/release/ctest.log build/asan/ctest.log build/tsan/ctest.log; do
  n=$(sed -n 's/.*tests passed, 0 tests failed out of \([0-9]*\).*/\1/p' "$log" | tail -n 1)
  passed=$((passed + ${n:-0}))
done
win_passed=$(sed -n 's/^windows: \([0-9]*\) passed, \([0-9]*\) failed$/\1/p' build/windows.log)
win_failed=$(sed -n 's/^windows: \([0-9]*\) passed, \([0-9]*\) failed$/\2/p' build/windows.log)
[ -z "$win_failed" ] && win_failed=$windows_rc
passed=$((passed + ${win_passed:-0} + 1 - gui_rc))
win_failed=$((win_failed + gui_rc))
echo "release and sanitizer suites, fuzz smoke, Debian package, Windows build under wine:"
echo "test.sh: $passed passed, $win_failed failed"
[ "$windows_rc" -eq 0 ] && [ "$gui_rc" -eq 0 ]
