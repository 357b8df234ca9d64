// Writes the database that bench/mero_tool_bench.sh measures mero on: N
// sample records appended through Database::write (timed: the library's own
// append rate, the peer of `mero import`), then every tenth record updated
// to a longer note, which moves it and leaves dead bytes for compact.
// Usage: mero_tool_bench_db BASE N   (key from MERO_KEY)

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "engine/database.h"
#include "engine/schema.h"
#include "sample_records.h"

int main(int argc, char** argv) {
  using namespace mero;
  if (argc != 3 || std::getenv("MERO_KEY") == nullptr) {
    std::fprintf(stderr, "usage: MERO_KEY=... mero_tool_bench_db BASE N\n");
    return 2;
  }
  const std::string base = argv[1];
  const auto n = static_cast<int32_t>(std::atol(argv[2]));
  const std::vector<uint8_t> flags = bench::sampleIndexedFlags();
  DbArray<uint8_t> indexed;
  DbArray<DbString> names;
  indexed.resize(bench::kSampleFields);
  names.resize(bench::kSampleFields);
  for (int32_t f = 0; f < bench::kSampleFields; ++f) {
    indexed.at(f) = flags[static_cast<size_t>(f)];
    names.at(f) = ("f" + std::to_string(f)).c_str();
  }
  if (!appendSchemaBlock(base + ".str", indexed, names)) return 1;
  auto db = Database::open(base, std::getenv("MERO_KEY"), true);
  if (db == nullptr) return 1;
  LockGuard guard(db->lock());
  FieldValues record;
  const auto start = std::chrono::steady_clock::now();
  for (int32_t i = 0; i < n; ++i) {
    bench::sampleRecord(i, record);
    if (db->write(record) != WriteStatus::appended) return 1;
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("library append: %d records in %.2f s = %.0f records/s\n", n, seconds, n / seconds);
  const std::vector<int32_t> positions = db->records().positionList();
  FieldValues longer;
  for (size_t r = 0; r < positions.size(); r += 10) {
    bench::sampleRecord(static_cast<int32_t>(r), record);
    longer.clear();
    for (int32_t f = 0; f < record.size(); ++f)
      longer.add(f == 3 ? std::string(record[f]) + " and more" : std::string(record[f]));
    if (!db->updateRecord(positions[r], longer)) return 1;
  }
  return 0;
}
