// find by one term: on an indexed field by substring (one scan of the field's
// search text) and by whole value (the value hash), and on a field that is
// not indexed by substring, which reads and deciphers every record: the slow
// path of find, for contrast.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "engine/database.h"
#include "sample_records.h"
#include "scratch_database.h"

namespace {

void runFind(benchmark::State& state, int32_t field, bool partial, const std::string& term) {
  const std::unique_ptr<mero::Database> db =
      mero::bench::ScratchDatabase::shared(static_cast<int32_t>(state.range(0))).open();
  std::vector<uint8_t> partials(static_cast<size_t>(field) + 1, 0);
  partials[static_cast<size_t>(field)] = partial ? 1 : 0;
  mero::FieldValues terms;
  for (int32_t f = 0; f < field; ++f) terms.add("");
  terms.add(term);
  size_t matches = 0;
  mero::LockGuard guard(db->lock());
  for (auto _ : state) {
    const std::vector<int32_t> found = db->find(partials, terms);
    matches = found.size();
    benchmark::DoNotOptimize(found.data());
  }
  state.counters["matches"] = static_cast<double>(matches);
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));  // records searched
}

void BM_FindSubstringIndexed(benchmark::State& state) {
  runFind(state, mero::bench::kCityField, true, mero::bench::sampleCityPiece());
}
BENCHMARK(BM_FindSubstringIndexed)->Arg(5000)->Arg(50000)->Unit(benchmark::kMicrosecond);

void BM_FindWholeIndexed(benchmark::State& state) {
  mero::FieldValues record;
  mero::bench::sampleRecord(3, record);
  std::string city(record[mero::bench::kCityField]);
  for (char& c : city) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
  runFind(state, mero::bench::kCityField, false, city);
}
BENCHMARK(BM_FindWholeIndexed)->Arg(5000)->Arg(50000)->Unit(benchmark::kMicrosecond);

void BM_FindSubstringPlain(benchmark::State& state) {
  runFind(state, mero::bench::kNoteField, true, mero::bench::sampleNotePiece());
}
BENCHMARK(BM_FindSubstringPlain)->Arg(5000)->Arg(50000)->Unit(benchmark::kMicrosecond);

}  // namespace
