#!/usr/bin/env bash
# Cross-builds the library, the simulated module, the CLI and the test suite
# as 64-bit Windows programs and runs the suite under Wine. Prints the counts
# of passed, failed and skipped tests and the run's duration; fails when a
# Windows test fails.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_WIN64:-build-win64}
jobs=${JOBS:-$(nproc 2>/dev/null || echo 2)}
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j "$jobs"
log=$(mktemp)
start=$(date +%s)
status=0
(cd "$build" && GTEST_BRIEF=1 ../tools/wine-run.sh bin/tavirex_tests.exe) >"$log" 2>&1 || status=$?
end=$(date +%s)
cat "$log"
total=$(sed -n 's/^\[==========\] \([0-9]*\) tests\{0,1\} from.*ran.*/\1/p' "$log" | tail -n 1)
passed=$(sed -n 's/^\[  PASSED  \] \([0-9]*\) tests\{0,1\}.*/\1/p' "$log" | tail -n 1)
skipped=$(sed -n 's/^\[  SKIPPED \] \([0-9]*\) tests\{0,1\}[,.].*/\1/p' "$log" | head -n 1)
failed=$(sed -n 's/^ *\([0-9]*\) FAILED TESTS\{0,1\}.*/\1/p' "$log" | tail -n 1)
echo "Windows suite under Wine: ${total:-0} run, ${passed:-0} passed, ${failed:-0} failed, ${skipped:-0} skipped, $((end - start)) s"
rm -f "$log"
if [ "$status" -ne 0 ] || [ -z "$total" ]; then
  echo "Windows suite FAILED (exit status $status)" >&2
  exit 1
fi
