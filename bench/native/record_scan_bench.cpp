// find on a field that is not indexed reads every still-matching record from
// the data file and searches the field's value: the slow path of find, for
// comparison with the search-pool scan.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "engine/database.h"
#include "sample_records.h"
#include "scratch_database.h"

namespace {

void BM_FindSubstringPlain(benchmark::State& state) {
  const std::unique_ptr<mero::Database> db =
      mero::bench::ScratchDatabase::shared(static_cast<int32_t>(state.range(0))).open();
  std::vector<uint8_t> partials(mero::bench::kNoteField + 1, 0);
  partials[mero::bench::kNoteField] = 1;
  mero::FieldValues terms;
  for (int32_t f = 0; f < mero::bench::kNoteField; ++f) terms.add("");
  terms.add(mero::bench::sampleNotePiece());
  size_t matches = 0;
  mero::LockGuard guard(db->lock());
  for (auto _ : state) {
    const std::vector<int32_t> found = db->find(partials, terms);
    matches = found.size();
    benchmark::DoNotOptimize(found.data());
  }
  state.counters["matches"] = static_cast<double>(matches);
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));  // records read
}
BENCHMARK(BM_FindSubstringPlain)->Arg(5000)->Arg(50000)->Unit(benchmark::kMicrosecond);

}  // namespace
