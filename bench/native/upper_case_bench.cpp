// upperCase normalises every value added to the search texts and every term.

#include <benchmark/benchmark.h>

#include <cstring>
#include <string>

#include "engine/field_cipher.h"

namespace {

void BM_UpperCase(benchmark::State& state) {
  const size_t n = static_cast<size_t>(state.range(0));
  std::string mixed(n, '\0');
  for (size_t i = 0; i < n; ++i) mixed[i] = static_cast<char>((i % 3 == 0 ? 'A' : 'a') + i % 26);
  std::string buffer(n, '\0');
  for (auto _ : state) {
    // Refilled each time, else every later pass would see upper case only;
    // the copy is part of what is measured and is small next to the loop.
    std::memcpy(buffer.data(), mixed.data(), n);
    mero::upperCase(buffer.data(), n);
    benchmark::DoNotOptimize(buffer.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_UpperCase)->Arg(8)->Arg(64)->Arg(4096);

}  // namespace
