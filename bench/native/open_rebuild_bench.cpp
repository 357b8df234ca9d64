// Database::open reads the schema and the index file, then reads every live
// record once to rebuild the search texts, value hashes and key index: the time an
// application waits before its first answer after opening.

#include <benchmark/benchmark.h>
#include <malloc.h>

#include <fstream>
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

// Resident bytes of the process: pages actually touched.
size_t residentBytes() {
  std::ifstream statm("/proc/self/statm");
  size_t pages = 0;
  size_t resident = 0;
  statm >> pages >> resident;
  return resident * 4096;
}

void BM_OpenRebuild(benchmark::State& state) {
  const mero::bench::ScratchDatabase& scratch =
      mero::bench::ScratchDatabase::shared(static_cast<int32_t>(state.range(0)));
  for (auto _ : state) {
    const size_t allocatedBefore = allocatedBytes();
    const size_t residentBefore = residentBytes();
    std::unique_ptr<mero::Database> db = scratch.open();
    benchmark::DoNotOptimize(db.get());
    state.PauseTiming();  // closing is not part of opening
    // What an open database holds in memory, per record: allocated, and of
    // that what was touched (the first open of the process shows it best).
    const auto perRecord = [&](size_t bytes) {
      return static_cast<double>(bytes) / static_cast<double>(state.range(0));
    };
    state.counters["allocated_per_record"] = perRecord(allocatedBytes() - allocatedBefore);
    if (!state.counters.count("resident_per_record"))
      state.counters["resident_per_record"] = perRecord(residentBytes() - residentBefore);
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
