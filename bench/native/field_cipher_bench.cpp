// The field cipher runs on every value written, read and scanned, so its
// bytes per second bound the engine's throughput.

#include <benchmark/benchmark.h>

#include <string>

#include "engine/field_cipher.h"
#include "scratch_database.h"

namespace {

std::string text(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>('a' + i * 7 % 26);
  return s;
}

void BM_FieldCipherEncode(benchmark::State& state) {
  const mero::FieldCipher cipher(mero::bench::ScratchDatabase::kKey);
  const std::string in = text(static_cast<size_t>(state.range(0)));
  std::string out(in.size(), '\0');
  for (auto _ : state) {
    cipher.encode(in.data(), in.size(), out.data());
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_FieldCipherEncode)->Arg(8)->Arg(64)->Arg(4096);

void BM_FieldCipherDecode(benchmark::State& state) {
  const mero::FieldCipher cipher(mero::bench::ScratchDatabase::kKey);
  std::string in = text(static_cast<size_t>(state.range(0)));
  cipher.encode(in.data(), in.size(), in.data());
  std::string out(in.size(), '\0');
  for (auto _ : state) {
    cipher.decode(in.data(), in.size(), out.data());
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_FieldCipherDecode)->Arg(8)->Arg(64)->Arg(4096);

}  // namespace
