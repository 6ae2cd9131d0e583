#!/usr/bin/env bash
# Runs every fuzz target of BUILD_DIR (default build-fuzz) for FUZZ_SECONDS
# (default 60) on its seeds in fuzz/corpus/<target>/ and the inputs kept in
# fuzz/regressions/<target>/, so a fault they found once is met again at
# once. New inputs go to
# BUILD_DIR/corpus/<target>/ (the committed seeds stay as they are), findings to
# BUILD_DIR/artifacts/<target>/. Prints the executions of each target and fails
# when any target reports a finding.
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-fuzz}
seconds=${FUZZ_SECONDS:-60}
status=0
summary=()
for exe in "$build"/bin/fuzz_*; do
  target=${exe##*/fuzz_}
  work=$build/corpus/$target
  artifacts=$build/artifacts/$target
  log=$build/logs/$target.log
  mkdir -p "$work" "$artifacts" "$build/logs"
  seeds=("$root/fuzz/corpus/$target")
  [ -d "$root/fuzz/regressions/$target" ] && seeds+=("$root/fuzz/regressions/$target")
  echo "== $target: $seconds s"
  "$exe" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
         -artifact_prefix="$artifacts/" "$work" "${seeds[@]}" >"$log" 2>&1
  rc=$?
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  if [ $rc -ne 0 ] || grep -q -E '^==[0-9]+==ERROR|runtime error:|SUMMARY: ' "$log"; then
    status=1
    summary+=("$(printf '%-16s FAILED (exit %d, executions %s): see %s' "$target" "$rc" "${execs:-?}" "$log")")
    grep -E -m 6 'rule broken|ERROR|runtime error|SUMMARY|Test unit written' "$log"
  else
    summary+=("$(printf '%-16s %10s executions in %s s' "$target" "${execs:-?}" "$seconds")")
  fi
done
echo
printf '%s\n' "${summary[@]}"
exit $status
