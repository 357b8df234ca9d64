#!/bin/sh
# Runs the scenario runner's Windows build under Wine, headless, in a Wine
# prefix made for this run and removed afterwards (without one, Wine would
# write into the home directory), on the scenarios in SCENARIO_DIR. Passes
# when the driver exits 0 and its last line is "N passed, 0 failed".
# Usage: run_under_wine.sh WINE_DRIVER_EXE MERO_DATABASE_DLL SCENARIO_DIR
set -u
driver=$1
dll=$2
scenarios=$3

if command -v wine64 >/dev/null 2>&1; then
  wine=wine64
elif [ -x /usr/lib/wine/wine64 ]; then
  wine=/usr/lib/wine/wine64  # Debian's wine64 package keeps its loader here
elif command -v wine >/dev/null 2>&1; then
  wine=wine
else
  echo "Wine is not installed (apt-get install wine wine64)"
  exit 1
fi
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver64)

work=$(mktemp -d "${TMPDIR:-/tmp}/mero-wine.XXXXXX")
export WINEPREFIX="$work/prefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="  # no Mono or Gecko installer prompts
unset DISPLAY WAYLAND_DISPLAY

cleanup() {
  "$wineserver" -k >/dev/null 2>&1 || true
  "$wineserver" -w >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

mkdir -p "$WINEPREFIX" "$work/run"
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
