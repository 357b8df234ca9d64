#!/bin/sh
# Runs the same workload on this library, SQLite (JDBC) and H2, each engine in
# its own JVM, checks that all gave the same answers, and writes
# results-N.md and results-N.png for each N.
#
# Usage: bench/run_peers.sh [--quick] [--build DIR] [--out DIR] [N...]
#   --quick   few requests per phase: shows that it works, not how fast
#   --build   the build directory holding mero-database.jar (default build/)
#   --out     where results-N.md/.png go (default bench/results/)
#   N         records per run (default 100000; 2000 with --quick)
# Build first with scripts/build.sh. Needs a JDK, sqlite-jdbc.jar, h2.jar
# (scripts/install-deps.sh installs them) and gnuplot for the chart.
# The library runs with MERO_SYNC=OFF unless MERO_SYNC is set, since the
# peers run with their syncing off; the report names the mode.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
quick=""
build="$root/build"
out="$root/bench/results"
sizes=""
while [ $# -gt 0 ]; do
  case "$1" in
    --quick) quick="--quick" ;;
    --build) build=$2; shift ;;
    --out) out=$2; shift ;;
    -h|--help) sed -n '2,15p' "$0"; exit 0 ;;
    -*) echo "unknown option $1" >&2; exit 64 ;;
    *) sizes="$sizes $1" ;;
  esac
  shift
done
if [ -z "$sizes" ]; then
  if [ -n "$quick" ]; then sizes=2000; else sizes=100000; fi
fi

MERO_SYNC=${MERO_SYNC:-OFF}
export MERO_SYNC

jar="$build/mero-database.jar"
sqlite_jar=/usr/share/java/sqlite-jdbc.jar
h2_jar=/usr/share/java/h2.jar
for f in "$jar" "$sqlite_jar" "$h2_jar"; do
  [ -f "$f" ] || { echo "missing $f (run scripts/install-deps.sh and scripts/build.sh)" >&2; exit 1; }
done

classes="$build/bench-classes"
work="$build/bench-work"
rm -rf "$classes"
mkdir -p "$classes" "$work" "$out"
classpath="$jar:$sqlite_jar:$h2_jar"
javac --release 17 -Xlint:all,-path -Werror -d "$classes" -cp "$classpath" "$root"/bench/java/*.java
classpath="$classes:$classpath"

# The same JVM options for every engine, so that peak memory compares.
jvm_options="-Xmx2g"
build_id=$(git -C "$root" describe --always --dirty 2>/dev/null || echo unknown)
engines="mero sqlite h2"
for n in $sizes; do
  for engine in $engines; do
    data="$work/data-$engine"
    rm -rf "$data"
    # shellcheck disable=SC2086
    java $jvm_options -Dmero.build="$build_id" -cp "$classpath" PeerBenchmark --engine "$engine" --n "$n" \
      --dir "$data" --out "$work/$engine-$n.tsv" $quick
    rm -rf "$data"
  done
  # shellcheck disable=SC2086
  java -cp "$classpath" PeerReport --n "$n" --in "$work" --results "$out" $engines
  if command -v gnuplot >/dev/null; then
    gnuplot -e "datafile='$out/results-$n.dat'; outfile='$out/results-$n.png'; records='$n'; engines=3" \
      "$root/bench/peer_chart.gp"
    echo "wrote $out/results-$n.md and $out/results-$n.png"
  else
    echo "wrote $out/results-$n.md (no gnuplot: no chart)"
  fi
done
