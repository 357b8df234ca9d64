// Building a record image (append, update) and parsing one (every read, the
// rebuild at open, scans of non-indexed fields).

#include <benchmark/benchmark.h>

#include <string>

#include "engine/record_format.h"
#include "sample_records.h"
#include "scratch_database.h"

namespace {

void BM_EncodeRecord(benchmark::State& state) {
  const mero::FieldCipher cipher(mero::bench::ScratchDatabase::kKey);
  mero::FieldValues values;
  mero::bench::sampleRecord(42, values);
  std::string image;
  for (auto _ : state) {
    mero::encodeRecord(cipher, values, image);
    benchmark::DoNotOptimize(image.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * image.size()));
}
BENCHMARK(BM_EncodeRecord);

void BM_DecodeRecordBody(benchmark::State& state) {
  const mero::FieldCipher cipher(mero::bench::ScratchDatabase::kKey);
  mero::FieldValues values;
  mero::bench::sampleRecord(42, values);
  std::string image;
  mero::encodeRecord(cipher, values, image);
  mero::FieldValues out;
  for (auto _ : state) {
    const bool ok = mero::decodeRecordBody(cipher, mero::bench::kSampleFields, image.data() + 4, image.size() - 4, out);
    benchmark::DoNotOptimize(ok);
    benchmark::DoNotOptimize(out);
  }
  if (!(out[0] == values[0])) state.SkipWithError("decoded record differs");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * image.size()));
}
BENCHMARK(BM_DecodeRecordBody);

}  // namespace
