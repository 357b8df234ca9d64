#!/bin/sh
# Measures mero on N records (default 1,000,000) against peers measured in
# the same run: one sequential read of the data file (info, check), copying
# the live bytes with a sync (compact), the library's own append rate
# (import). Run by hand after scripts/build.sh; prints a Markdown table.
# Usage: bench/mero_tool_bench.sh [N]
set -eu
n=${1:-1000000}
root=$(cd "$(dirname "$0")/.." && pwd)
mero=$root/build/mero
maker=$root/build/bench/mero_tool_bench_db
work=$(mktemp -d "${TMPDIR:-/tmp}/mero-tool-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
export MERO_KEY=bench-key
cd "$work"

now() { date +%s.%N; }
# seconds COMMAND...: runs it three times (output discarded, the files it
# makes removed before each run) and prints the best wall time: the machine
# is shared, and the best run is the one least disturbed.
seconds() {
  best=
  for _ in 1 2 3; do
    rm -f out.* small.* imported.* copy.bin
    t0=$(now); "$@" >/dev/null 2>&1; t1=$(now)
    best=$(echo "$t0 $t1 ${best:-999999}" | awk '{t = $2 - $1; printf "%.3f", t < $3 ? t : $3}')
  done
  echo "$best"
}
ratio() { echo "$1 $2" | awk '{printf "%.2f", $1 / $2}'; }
rate() { echo "$1 $2" | awk '{printf "%.0f", $1 / $2}'; }

"$maker" db "$n" >/dev/null
"$mero" info db --quiet >info.txt
live=$(sed -n 's/.*live \([0-9]*\) bytes.*/\1/p' info.txt)
size=$(stat -c %s db.dat)

read_once=$(seconds dd if=db.dat of=/dev/null bs=1M)
copy_live=$(seconds dd if=db.dat of=copy.bin bs=1M count=$(( (live + 1048575) / 1048576 )) conv=fsync)
info=$(seconds "$mero" info db --quiet)
check=$(seconds "$mero" check db --quiet)
check_full=$(seconds "$mero" check db --full --quiet)
csv=$(seconds "$mero" export db --format csv --quiet --output out.csv)
jsonl=$(seconds "$mero" export db --format jsonl --quiet --output out.jsonl)
sqlite=$(seconds "$mero" export db --format sqlite --quiet --output out.sqlite)
compact=$(seconds "$mero" compact db --into small --quiet)
# Import against the library's own appends, alternated so that both meet
# the same state of the machine (dirty pages waiting to be written, mostly);
# the better of two runs each.
"$mero" export db --format csv --quiet --output input.csv
append_rate=0
import=999999
for _ in 1 2; do
  rm -f peer.* imported.*
  rate_now=$("$maker" peer "$n" | sed 's/.*= \([0-9]*\) records.*/\1/')
  if [ "$rate_now" -gt "$append_rate" ]; then append_rate=$rate_now; fi
  t0=$(now)
  "$mero" import imported --format csv --input input.csv --indexed f0,f1 --key-index --quiet 2>/dev/null
  t1=$(now)
  import=$(echo "$t0 $t1 $import" | awk '{t = $2 - $1; printf "%.3f", t < $3 ? t : $3}')
done

echo "mero on $n records: data file $size bytes, $live live ($(cat info.txt | sed -n 's/.*(\(.*\)).*/\1/p') dead)"
echo
echo "| command | seconds | peer | peer seconds | ratio to peer | records/s |"
echo "|---|---:|---|---:|---:|---:|"
echo "| info | $info | read the data file once | $read_once | $(ratio "$info" "$read_once") | |"
echo "| check | $check | read the data file once | $read_once | $(ratio "$check" "$read_once") | |"
echo "| check --full | $check_full | read the data file once | $read_once | $(ratio "$check_full" "$read_once") | |"
echo "| export csv | $csv | | | | $(rate "$n" "$csv") |"
echo "| export jsonl | $jsonl | | | | $(rate "$n" "$jsonl") |"
echo "| export sqlite | $sqlite | | | | $(rate "$n" "$sqlite") |"
echo "| compact --into | $compact | copy the live bytes, synced | $copy_live | $(ratio "$compact" "$copy_live") | |"
echo "| import csv | $import | library append ($append_rate records/s) | | $(echo "$n $import $append_rate" | awk '{printf "%.2f", ($1 / $2) / $3}') | $(rate "$n" "$import") |"
