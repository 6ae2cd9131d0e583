#!/usr/bin/env bash
# The end of `make test`: the counts of passed, failed and skipped tests from
# ctest's output, the names of the failed ones, and the skipped ones with the
# reason each gave (from ctest's log of the run).
# usage: tools/test-summary.sh CTEST_OUTPUT LAST_TEST_LOG
set -euo pipefail
out=$1 log=$2
names() { sed -n "s/^ *[0-9]*\/[0-9]* Test *#[0-9]*: \([^ ]*\) .*$1.*/\1/p" "$out"; }
count() { names "$1" | grep -c . || true; }
passed=$(count ' Passed ') skipped=$(count '\*\*\*Skipped')
failed=$(sed -n 's/^ *[0-9]*\/[0-9]* Test *#[0-9]*: \([^ ]*\) .*\(\*\*\*\(Failed\|Exception\|Timeout\)\|Not Run\).*/\1/p' "$out")
nfailed=$(grep -c . <<<"$failed" || true)
if [ $((passed + nfailed + skipped)) -eq 0 ]; then
  echo "== tests: no results in $out" >&2
  exit 1
fi
seconds=$(sed -n 's/^Total Test time (real) = *\([0-9.]*\) sec/\1/p' "$out")
echo "== tests: $((passed + nfailed + skipped)) run, $passed passed, $nfailed failed, $skipped skipped (${seconds:-?} s)"
if [ "$skipped" -gt 0 ]; then
  echo "skipped:"
  for t in $(names '\*\*\*Skipped'); do
    # The test's own reason: the line after "Skipped" in its output.
    reason=$(awk -v t="\"$t\"" '$1 == t { on = 1 } on && /: Skipped$/ { getline; print; exit }' "$log")
    echo "  $t: ${reason:-no reason given}"
  done
fi
if [ "$nfailed" -gt 0 ]; then
  echo "failed:"
  sed 's/^/  /' <<<"$failed"
fi
