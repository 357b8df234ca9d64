#!/bin/sh
# Readers sharing one handle of the packaged API: gets by key from 1 and 4
# threads, alone and beside a thread that appends. Prints gets and appends
# per second for each setting.
#
# Usage: bench/run_api_readers.sh [--quick] [--build DIR]
#   --quick   a small run: shows that it works, not how fast
#   --build   the build directory holding mero-database.jar (default build/)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build"
sizes="100000 400000 3"
while [ $# -gt 0 ]; do
  case "$1" in
    --quick) sizes="2000 4000 1" ;;
    --build) build=$2; shift ;;
    -h|--help) sed -n '2,9p' "$0"; exit 0 ;;
    *) echo "unknown option $1" >&2; exit 64 ;;
  esac
  shift
done
jar="$build/mero-database.jar"
[ -f "$jar" ] || { echo "missing $jar (run scripts/build.sh)" >&2; exit 1; }
classes="$build/api-reader-classes"
work="$build/api-reader-work"
rm -rf "$classes" "$work"
mkdir -p "$classes" "$work"
javac --release 17 -Xlint:all,-path -Werror -d "$classes" -cp "$jar" "$root/bench/java/api/ReaderContentionBenchmark.java"
# shellcheck disable=SC2086
java -cp "$classes:$jar" ReaderContentionBenchmark "$work" $sizes
rm -rf "$work"
