#!/bin/sh
# Runs the scenario runner's Windows build under Wine (wine_env.sh) on the
# scenarios in SCENARIO_DIR. Passes when the driver exits 0 and its last
# line is "N passed, 0 failed".
# Usage: run_under_wine.sh WINE_DRIVER_EXE MERO_DATABASE_DLL SCENARIO_DIR
set -u
driver=$1
dll=$2
scenarios=$3

. "$(dirname "$0")/wine_env.sh"
cp "$driver" "$work/run/wine_driver.exe"
cp "$dll" "$work/run/MERO_Database.dll"
cp -r "$scenarios" "$work/run/scenarios"
cd "$work/run"  # the database files are made here, beside the DLL

"$wine" ./wine_driver.exe MERO_Database.dll scenarios databases >"$work/stdout" 2>"$work/stderr"
status=$?
tr -d '\r' <"$work/stdout" >"$work/output"
cat "$work/output"

last=$(tail -n 1 "$work/output")
if [ $status -ne 0 ] || ! printf '%s\n' "$last" | grep -Eq '^[0-9]+ passed, 0 failed$'; then
  echo "wine_driver.exe exited with status $status; Wine's own messages follow:"
  cat "$work/stderr"
  exit 1
fi
exit 0
