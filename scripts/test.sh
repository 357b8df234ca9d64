#!/bin/sh
# Every test: install what is missing, build, run the whole ctest suite.
# Long variants (label "long") run only with MERO_LONG_TESTS=1. Then the
# native tests run again under the sanitizers, with fuzzing (unless
# MERO_SKIP_SANITIZERS=1).
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
if [ "${MERO_LONG_TESTS:-0}" = 1 ]; then
  ctest --test-dir build --output-on-failure -j 2
else
  ctest --test-dir build --output-on-failure -j 2 -LE long
fi
if [ "${MERO_SKIP_SANITIZERS:-0}" != 1 ]; then
  scripts/sanitizers.sh
fi
