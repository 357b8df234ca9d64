// Database::open reads the schema and the index file, then reads every live
// record once to rebuild the search pool and the key index: the time an
// application waits before its first answer after opening.

#include <benchmark/benchmark.h>

#include "engine/database.h"
#include "scratch_database.h"

namespace {

void BM_OpenRebuild(benchmark::State& state) {
  const mero::bench::ScratchDatabase& scratch =
      mero::bench::ScratchDatabase::shared(static_cast<int32_t>(state.range(0)));
  for (auto _ : state) {
    std::unique_ptr<mero::Database> db = scratch.open();
    benchmark::DoNotOptimize(db.get());
    state.PauseTiming();  // closing is not part of opening
    db.reset();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));  // records read
}
BENCHMARK(BM_OpenRebuild)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace
