#!/bin/sh
# Runs a libFuzzer target: first every saved regression input once, then
# fuzzing for SECONDS from the committed seeds. New inputs go to WORK_DIR,
# never into the committed corpus; a crashing input is kept there as
# crash-* and the run fails.
# Usage: run_fuzzer.sh FUZZER SEED_DIR REGRESSION_DIR WORK_DIR SECONDS
set -u
fuzzer=$1 seeds=$2 regressions=$3 work=$4 seconds=$5
name=$(basename "$fuzzer")
mkdir -p "$work/corpus" "$work/artifacts"

if [ -d "$regressions" ] && [ -n "$(ls -A "$regressions" 2>/dev/null)" ]; then
  "$fuzzer" "$regressions"/* >"$work/regressions.log" 2>&1 || {
    cat "$work/regressions.log"
    echo "$name: a saved regression input fails again"
    exit 1
  }
  echo "$name: $(ls "$regressions" | wc -l) regression inputs pass"
fi

"$fuzzer" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 -print_final_stats=1 \
  -artifact_prefix="$work/artifacts/" "$work/corpus" "$seeds" >"$work/fuzz.log" 2>&1
status=$?
runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/fuzz.log" | tail -n 1)
if [ $status -ne 0 ]; then
  tail -n 60 "$work/fuzz.log"
  echo "$name: failed; inputs kept in $work/artifacts"
  exit 1
fi
echo "[figures] fuzz $name: ${runs:-?} executions in ${seconds} s, 0 crashes"
