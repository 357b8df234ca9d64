#!/bin/sh
# Fails when a C++ file under src/, tests/, bench/ or examples/ differs from
# what clang-format makes of it (.clang-format: Google style, 120 columns).
# Fix with: clang-format-14 -i FILE...
set -eu
cd "$(dirname "$0")/.."
format=$(command -v clang-format-14 || command -v clang-format || true)
if [ -z "$format" ]; then
  echo "check-format: clang-format is not installed (apt-get install clang-format-14)" >&2
  exit 1
fi
files=$(git ls-files 'src/*.cpp' 'src/*.h' 'tests/*.cpp' 'tests/*.h' 'bench/*.cpp' 'bench/*.h' \
  'examples/*.cpp' 'examples/*.h')
# shellcheck disable=SC2086
if ! "$format" --dry-run --Werror $files; then
  echo "check-format: the files above are not formatted; run: $format -i FILE..." >&2
  exit 1
fi
