#!/bin/sh
# Long-run figures, run by hand: memory over many updates of one large record,
# and the longest call on a small database while a large one opens.
# Usage: bench/run_reliability_figures.sh [TOGGLES] [RECORDS]   (defaults 20000, 1000000)
# Build first with scripts/build.sh.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
jar=$root/build/mero-database.jar
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
javac --release 17 -d "$work/classes" -cp "$jar" "$root/bench/java/ReliabilityFigures.java" "$root/bench/java/ProcessMemory.java"
java -cp "$work/classes:$jar" ReliabilityFigures toggles "${1:-20000}" "$work"
java -Xmx1g -cp "$work/classes:$jar" ReliabilityFigures stall "${2:-1000000}" "$work"
