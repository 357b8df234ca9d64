#!/bin/sh
# The packaged API against sqlite-jdbc and H2's MVStore in one JVM, on the
# same load: single appends, batched appends, get by key, a pass over every
# record. Prints a table of operations per second and the ratios.
#
# Usage: bench/run_api_peers.sh [--quick] [--build DIR] [--n N]
#   --quick   a small run: shows that it works, not how fast
#   --build   the build directory holding mero-database.jar (default build/)
#   --n       records appended in the batched phase (default 100000)
# Build first with scripts/build.sh; needs sqlite-jdbc.jar and h2.jar
# (scripts/install-deps.sh installs them).
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build"
sizes="--n 100000 --single 10000 --gets 100000 --rounds 5"
while [ $# -gt 0 ]; do
  case "$1" in
    --quick) sizes="--n 2000 --single 200 --gets 2000 --rounds 1" ;;
    --build) build=$2; shift ;;
    --n) sizes="$sizes --n $2"; shift ;;
    -h|--help) sed -n '2,11p' "$0"; exit 0 ;;
    *) echo "unknown option $1" >&2; exit 64 ;;
  esac
  shift
done
jar="$build/mero-database.jar"
sqlite_jar=/usr/share/java/sqlite-jdbc.jar
h2_jar=/usr/share/java/h2.jar
for f in "$jar" "$sqlite_jar" "$h2_jar"; do
  [ -f "$f" ] || { echo "missing $f (run scripts/install-deps.sh and scripts/build.sh)" >&2; exit 1; }
done
classes="$build/api-peer-classes"
work="$build/api-peer-work"
rm -rf "$classes" "$work"
mkdir -p "$classes" "$work"
classpath="$jar:$sqlite_jar:$h2_jar"
javac --release 17 -Xlint:all,-path -Werror -d "$classes" -cp "$classpath" "$root/bench/java/api/ApiPeerBenchmark.java"
# shellcheck disable=SC2086
java -Xmx2g -cp "$classes:$classpath" ApiPeerBenchmark --dir "$work" $sizes
rm -rf "$work"
