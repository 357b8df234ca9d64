#!/bin/sh
# The native tests under clang's sanitizers, each in a build tree of its own:
#   build-asan  AddressSanitizer + UndefinedBehaviorSanitizer, and the
#               libFuzzer targets, each fuzzing for a bounded time;
#   build-tsan  ThreadSanitizer.
# Java is left out: a sanitized shared library cannot be loaded into a JVM
# that was not started with the sanitizer runtime. With MERO_LONG_TESTS=1 the
# long variants (label "long": fuzzing for 15 minutes each with random
# seeds, many more model runs) run too. Without it, fuzzing replays the
# regressions and runs a fixed seed for a fixed count, so the verdict is the
# same every time.
set -eu
cd "$(dirname "$0")/.."
jobs=${MERO_JOBS:-2}
if [ "${MERO_LONG_TESTS:-0}" = 1 ]; then skip_long=""; else skip_long="-LE long"; fi

configure() {
  dir=$1
  flags=$2
  shift 2
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_CXX_FLAGS="$flags -fno-omit-frame-pointer" \
    -DMERO_BUILD_JAVA=OFF -DMERO_BUILD_BENCHMARKS=OFF "$@" >/dev/null
}

echo "== AddressSanitizer + UndefinedBehaviorSanitizer, and fuzzing (build-asan)"
configure build-asan "-fsanitize=address,undefined -fno-sanitize-recover=all" -DMERO_BUILD_FUZZERS=ON
cmake --build build-asan -j "$jobs" --target mero_native_tests mero mero_tool_tests mero_scenario_runner \
  fuzz_open fuzz_read_record fuzz_modified_utf8
# shellcheck disable=SC2086
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1 \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure -j "$jobs" -L 'native|fuzz' -E '^exported_symbols' $skip_long

for log in build-asan/fuzz-work/*/fuzz.log; do
  [ -f "$log" ] || continue
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  echo "[figures] fuzz $(basename "$(dirname "$log")"): ${runs:-?} executions"
done

echo "== ThreadSanitizer (build-tsan)"
configure build-tsan "-fsanitize=thread"
cmake --build build-tsan -j "$jobs" --target mero_native_tests mero mero_tool_tests mero_scenario_runner
# shellcheck disable=SC2086
# The model and the long index shift run on one thread, and under
# AddressSanitizer already; here they would only take minutes.
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
  ctest --test-dir build-tsan --output-on-failure -j "$jobs" -L native \
  -E '^exported_symbols|^ModelTest\.|DeleteShiftingAMiBOfEntries' $skip_long
