// Database::open reads the schema and the index file, then reads every live
// record once to rebuild the search pool and the key index: the time an
// application waits before its first answer after opening.

#include <benchmark/benchmark.h>
#include <malloc.h>

#include <string>

#include "engine/database.h"
#include "platform/file.h"
#include "scratch_database.h"

namespace {

// Bytes the allocator has handed out (small blocks and mapped ones).
size_t allocatedBytes() {
  const struct mallinfo2 info = mallinfo2();
  return info.uordblks + info.hblkhd;
}

void BM_OpenRebuild(benchmark::State& state) {
  const mero::bench::ScratchDatabase& scratch =
      mero::bench::ScratchDatabase::shared(static_cast<int32_t>(state.range(0)));
  for (auto _ : state) {
    const size_t before = allocatedBytes();
    std::unique_ptr<mero::Database> db = scratch.open();
    benchmark::DoNotOptimize(db.get());
    state.PauseTiming();  // closing is not part of opening
    // What an open database holds in memory, per record.
    state.counters["bytes_per_record"] =
        static_cast<double>(allocatedBytes() - before) / static_cast<double>(state.range(0));
    db.reset();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));  // records read
}
BENCHMARK(BM_OpenRebuild)->Arg(100000)->Unit(benchmark::kMillisecond);

// The yardstick for open: reading the same data file from start to end in
// 1 MiB pieces, with nothing done to the bytes.
void BM_ReadDataFileSequentially(benchmark::State& state) {
  const mero::bench::ScratchDatabase& scratch =
      mero::bench::ScratchDatabase::shared(static_cast<int32_t>(state.range(0)));
  std::string buffer(1u << 20, '\0');
  int64_t total = 0;
  for (auto _ : state) {
    mero::File file;
    if (!file.openReadWrite(scratch.baseName() + ".dat")) state.SkipWithError("no data file");
    int64_t got = 0;
    for (int64_t at = 0; (got = file.readAt(at, buffer.data(), buffer.size())) > 0; at += got) total += got;
    benchmark::DoNotOptimize(buffer.data());
  }
  state.SetBytesProcessed(total);
}
BENCHMARK(BM_ReadDataFileSequentially)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace
