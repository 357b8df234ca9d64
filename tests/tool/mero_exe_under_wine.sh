#!/bin/sh
# Runs mero.exe under Wine through every command once: import, info, check,
# export (CSV back to the same bytes, JSON Lines), compact (in place and into
# a new database), rekey, recover, put, get and count, and the refusals that rest on Windows calls: an
# output that is one of the database's files (by file ID), a new database
# whose name is taken (a rename that never replaces), and --format sqlite,
# which the Windows build does not carry.
# Usage: mero_exe_under_wine.sh MERO_EXE
set -u
exe=$1
if command -v wine64 >/dev/null 2>&1; then wine=wine64
elif [ -x /usr/lib/wine/wine64 ]; then wine=/usr/lib/wine/wine64
else echo "Wine is not installed"; exit 1; fi
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver64)

work=$(mktemp -d "${TMPDIR:-/tmp}/mero-exe-wine.XXXXXX")
export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
trap '"$wineserver" -k >/dev/null 2>&1; rm -rf "$work"' EXIT
mkdir -p "$WINEPREFIX" "$work/run"
cp "$exe" "$work/run/mero.exe"
cd "$work/run"

failures=0
# expect STATUS COMMAND...: runs mero.exe, output in out.txt / err.txt.
expect() {
  want=$1; shift
  MERO_KEY=old "$wine" ./mero.exe "$@" >out.txt 2>err.txt
  got=$?
  if [ "$got" -ne "$want" ]; then
    echo "FAIL: mero $* exited $got, expected $want"; cat err.txt; failures=$((failures + 1))
  fi
}
same() {
  if ! cmp -s "$1" "$2"; then echo "FAIL: $1 and $2 differ"; failures=$((failures + 1)); fi
}

printf 'name,city\r\nAda,"London, UK"\r\n"Jos\303\251 ""J""",M\303\274nchen\r\nsmile \360\237\230\200,\r\n' >in.csv
printf 'new\n' >new.key
expect 0 import db --format csv --input in.csv --indexed name
expect 0 info db
grep -q "records: 3" out.txt || { echo "FAIL: info"; cat out.txt; failures=$((failures + 1)); }
expect 0 check db --full
expect 0 export db --format csv --output out.csv
same in.csv out.csv
expect 0 export db --format jsonl --output out.jsonl
expect 2 export db --format csv --output out.csv
expect 2 export db --format sqlite --output out.sqlite
grep -q "not available" err.txt || { echo "FAIL: sqlite refusal"; failures=$((failures + 1)); }
expect 2 export db --format csv --output db.dat --force
grep -q "own files" err.txt || { echo "FAIL: output onto the data file"; failures=$((failures + 1)); }
expect 0 compact db --into small
expect 2 compact db --into small
expect 2 import small --format csv --input in.csv
expect 0 check small
expect 0 compact db
expect 0 recover db --into saved
expect 0 put saved Grace Paris
expect 0 get saved Grace --format jsonl
grep -q '"city":"Paris"' out.txt || { echo "FAIL: get"; cat out.txt; failures=$((failures + 1)); }
expect 0 count saved
grep -q "^4" out.txt || { echo "FAIL: count"; cat out.txt; failures=$((failures + 1)); }
expect 0 rekey db --new-key-file new.key
MERO_KEY=new "$wine" ./mero.exe export db --format csv --output rekeyed.csv 2>err.txt || failures=$((failures + 1))
same in.csv rekeyed.csv
expect 3 info missing

if [ "$failures" -eq 0 ]; then echo "mero.exe under Wine: all commands passed"; exit 0; fi
echo "$failures failures"
exit 1
