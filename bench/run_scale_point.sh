#!/bin/sh
# The scale point: this library alone with N records of the peer workload
# (default 10,000,000), opened afresh three times: CPU and wall time of
# open + first answer, resident memory the open added, file sizes. Run by
# hand, not in CI: at ten million records it builds a 1 GiB data file
# (minutes) and needs a few GiB of memory.
#
# Usage: bench/run_scale_point.sh [--build DIR] [--dir DIR] [N]
#   --build   the build directory holding mero-database.jar (default build/)
#   --dir     where the database is built and kept for later runs
#             (default build/scale-N); remove it to start over
# Prints the results on stdout, progress on stderr.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build"
n=10000000
dir=""
while [ $# -gt 0 ]; do
  case "$1" in
    --build) build=$2; shift ;;
    --dir) dir=$2; shift ;;
    -h|--help) sed -n '2,12p' "$0"; exit 0 ;;
    -*) echo "unknown option $1" >&2; exit 64 ;;
    *) n=$1 ;;
  esac
  shift
done
[ -n "$dir" ] || dir="$build/scale-$n"
jar="$build/mero-database.jar"
[ -f "$jar" ] || { echo "missing $jar (run scripts/build.sh)" >&2; exit 1; }
classes="$build/scale-classes"
rm -rf "$classes"
mkdir -p "$classes"
javac --release 17 -Xlint:all,-path -Werror -d "$classes" -cp "$jar" \
  "$root"/bench/java/ScalePoint.java "$root"/bench/java/MeroEngine.java "$root"/bench/java/BenchEngine.java \
  "$root"/bench/java/Workload.java "$root"/bench/java/Rng.java "$root"/bench/java/ProcessMemory.java
java -Xmx2g -cp "$classes:$jar" ScalePoint --n "$n" --dir "$dir"
