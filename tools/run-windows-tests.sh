#!/usr/bin/env bash
# Cross-builds the library, the simulated module, the CLI and the test suite
# as Windows programs and runs the suite under Wine. Prints the counts of passed,
# failed and skipped tests and the run's duration on its last line; fails when a
# Windows test fails.
# usage: tools/run-windows-tests.sh [64|32]
#   64 (the default): 64-bit programs (MinGW-w64 x86-64) under 64-bit Wine, in build-win64
#   32: 32-bit programs (MinGW-w64 i686, the production DLL's compiler and arithmetic)
#       under 32-bit Wine (Debian's wine32), in build-win32-test; the kernel must run
#       32-bit programs (32-bit Wine does not run under qemu-i386)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
bits=${1:-64}
case "$bits" in
  64) build=${BUILD_WIN64:-build-win64} toolchain=cmake/mingw-x86_64.cmake wine=("$root/tools/wine-run.sh") ;;
  32) build=${BUILD_WIN32_TEST:-build-win32-test} toolchain=cmake/mingw-i686-posix.cmake wine=("$root/tools/wine-run.sh" --32) ;;
  *) echo "usage: $0 [64|32]" >&2; exit 2 ;;
esac
jobs=${JOBS:-$(nproc 2>/dev/null || echo 2)}
cmake --no-warn-unused-cli -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j "$jobs"
if [ "$bits" = 32 ] && ! tools/runs-32bit.sh; then
  echo "32-bit Windows suite built in $build, not run: 32-bit Wine needs a kernel that runs 32-bit programs, and this one cannot" >&2
  exit 1
fi
log=$(mktemp)
start=$(date +%s)
status=0
(cd "$build" && GTEST_BRIEF=1 "${wine[@]}" bin/tavirex_tests.exe) >"$log" 2>&1 || status=$?
end=$(date +%s)
cat "$log"
total=$(sed -n 's/^\[==========\] \([0-9]*\) tests\{0,1\} from.*ran.*/\1/p' "$log" | tail -n 1)
passed=$(sed -n 's/^\[  PASSED  \] \([0-9]*\) tests\{0,1\}.*/\1/p' "$log" | tail -n 1)
skipped=$(sed -n 's/^\[  SKIPPED \] \([0-9]*\) tests\{0,1\}[,.].*/\1/p' "$log" | head -n 1)
failed=$(sed -n 's/^ *\([0-9]*\) FAILED TESTS\{0,1\}.*/\1/p' "$log" | tail -n 1)
rm -f "$log"
if [ "$status" -ne 0 ] || [ -z "$total" ]; then
  echo "$bits-bit Windows suite FAILED (exit status $status)" >&2
  status=1
fi
echo "$bits-bit Windows suite under Wine: ${total:-0} run, ${passed:-0} passed, ${failed:-0} failed, ${skipped:-0} skipped, $((end - start)) s"
exit "$status"
