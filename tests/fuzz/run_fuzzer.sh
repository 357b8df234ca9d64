#!/bin/sh
# Runs a libFuzzer target: first every saved regression input once, then
# fuzzing from the committed seeds. New inputs go to WORK_DIR, never into the
# committed corpus; a crashing or hanging input is kept there as crash-* or
# timeout-* and the run fails.
#
# BUDGET is either runs=N, the deterministic form CI uses (a fixed seed, a
# fixed number of executions, a work folder emptied first, so the same commit
# always meets the same inputs), or seconds=S with a random seed, for the long
# runs. Whatever a long run finds is fixed and its input kept in
# REGRESSION_DIR.
# Usage: run_fuzzer.sh FUZZER SEED_DIR REGRESSION_DIR WORK_DIR BUDGET
set -u
fuzzer=$1 seeds=$2 regressions=$3 work=$4 budget=$5
name=$(basename "$fuzzer")
case $budget in
  runs=*) rm -rf "$work"; limit="-seed=1 -runs=${budget#runs=}" ;;
  seconds=*) limit="-max_total_time=${budget#seconds=}" ;;
  *) echo "run_fuzzer.sh: BUDGET must be runs=N or seconds=S" >&2; exit 2 ;;
esac
mkdir -p "$work/corpus" "$work/artifacts"

if [ -d "$regressions" ] && [ -n "$(ls -A "$regressions" 2>/dev/null)" ]; then
  "$fuzzer" -timeout=20 "$regressions"/* >"$work/regressions.log" 2>&1 || {
    cat "$work/regressions.log"
    echo "$name: a saved regression input fails again"
    exit 1
  }
  echo "$name: $(ls "$regressions" | wc -l) regression inputs pass"
fi

# shellcheck disable=SC2086
"$fuzzer" $limit -timeout=20 -rss_limit_mb=2048 -print_final_stats=1 \
  -artifact_prefix="$work/artifacts/" "$work/corpus" "$seeds" >"$work/fuzz.log" 2>&1
status=$?
runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/fuzz.log" | tail -n 1)
if [ $status -ne 0 ]; then
  tail -n 60 "$work/fuzz.log"
  echo "$name: failed; inputs kept in $work/artifacts (add the input to $regressions once fixed)"
  exit 1
fi
echo "[figures] fuzz $name: ${runs:-?} executions ($budget), 0 crashes"
