#!/bin/sh
# Compares the functions a shared library exports with the expected list.
# Usage: check_exports.sh LIBRARY EXPECTED_LIST
set -eu
library=$1
expected=$2
actual=$(nm -D --defined-only "$library" | awk '$2 ~ /^[TtWwVvDdBbRr]$/ {print $3}' | sed 's/@.*//' | sort -u)
if [ "$actual" = "$(sort -u "$expected")" ]; then
  echo "exports match: $(echo "$actual" | wc -l) symbols"
  exit 0
fi
echo "exported symbols differ from $expected:"
echo "$actual" | diff "$expected" - || true
exit 1
