#!/bin/sh
# Measures the packaged API (org.mero.db) against direct DatabaseMarshall
# calls on append, read by key and find, both in one JVM, and prints a table
# of operations per second and the API's overhead.
#
# Usage: bench/run_api_overhead.sh [--quick] [--control] [--build DIR] [--n N]
#   --quick   a few small rounds: shows that it works, not how fast
#   --control both paths DatabaseMarshall: how far identical paths differ here
#   --build   the build directory holding mero-database.jar (default build/)
#   --n       records in each database before the rounds (default 100000)
# Build first with scripts/build.sh.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build"
n=100000
sizes="--rounds 23 --ops 5000 --warmup 3"
control=""
while [ $# -gt 0 ]; do
  case "$1" in
    --quick) n=2000; sizes="--rounds 4 --ops 200 --warmup 1" ;;
    --control) control="--control" ;;
    --build) build=$2; shift ;;
    --n) n=$2; shift ;;
    -h|--help) sed -n '2,11p' "$0"; exit 0 ;;
    *) echo "unknown option $1" >&2; exit 64 ;;
  esac
  shift
done
jar="$build/mero-database.jar"
[ -f "$jar" ] || { echo "missing $jar (run scripts/build.sh)" >&2; exit 1; }
classes="$build/api-bench-classes"
work="$build/api-bench-work"
rm -rf "$classes" "$work"
mkdir -p "$classes"
javac --release 17 -Xlint:all,-path -Werror -d "$classes" -cp "$jar" \
  "$root/bench/java/ApiOverheadBenchmark.java" "$root/bench/java/Workload.java" "$root/bench/java/Rng.java"
# shellcheck disable=SC2086
java -Xmx2g -cp "$classes:$jar" ApiOverheadBenchmark --dir "$work" --n "$n" $sizes $control
rm -rf "$work"
