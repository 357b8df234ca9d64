// How the data file grows under same-length edits: records of 200 B to 20 KB,
// each edit rewriting one record's note with other letters at the same
// length, so every field keeps its length. Such an update is written over
// the old image in every sync mode (through the rollback journal where the
// write could be torn), so the file should not grow at all. Prints the
// growth as a share of the live data per 100,000 updates, and exits 1 when
// it passes 10%.
// Usage: mero_update_growth_bench [UPDATES] [RECORDS] [MODE]   (default 100000, 5000, CLOSE)

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/database.h"
#include "engine/record_format.h"
#include "engine/schema.h"

int main(int argc, char** argv) {
  using mero::Database;
  const long updates = argc > 1 ? std::atol(argv[1]) : 100000;
  const int records = argc > 2 ? std::atoi(argv[2]) : 5000;
  const mero::SyncMode mode = mero::syncModeNamed(argc > 3 ? argv[3] : "CLOSE");
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / "mero-update-growth-bench";
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  const std::string base = (dir / "db").string();

  mero::DbArray<uint8_t> indexed(2, 0);
  indexed.at(0) = 1;
  mero::DbArray<mero::DbString> names(2, mero::DbString());
  names.at(0) = "key";
  names.at(1) = "note";
  if (!mero::defineSchema(base, indexed, names)) throw std::runtime_error("define failed");
  std::unique_ptr<Database> db = Database::open(base, "bench", true, nullptr, mode);
  if (!db) throw std::runtime_error("open failed");

  std::mt19937 random(7);
  std::vector<size_t> noteBytes;
  int64_t live = 0;
  for (int i = 0; i < records; ++i) {
    noteBytes.push_back(200 + random() % (20000 - 200 + 1));
    mero::FieldValues values;
    values.add("key-" + std::to_string(i));
    values.add(std::string(noteBytes.back(), 'a'));
    live += static_cast<int64_t>(mero::recordImageSize(values));
    if (db->write(values) != mero::WriteStatus::appended) throw std::runtime_error("append failed");
  }
  const int64_t before = db->dataFileSize();
  const auto start = std::chrono::steady_clock::now();
  for (long u = 0; u < updates; ++u) {
    const int i = static_cast<int>(random() % static_cast<unsigned>(records));
    mero::FieldValues values;
    values.add("key-" + std::to_string(i));
    values.add(std::string(noteBytes[static_cast<size_t>(i)], static_cast<char>('a' + u % 26)));
    if (!db->updateRecord(db->getPos(values[0]), values)) throw std::runtime_error("update failed");
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const int64_t grown = db->dataFileSize() - before;
  db->shutdown();
  std::filesystem::remove_all(dir);

  const double percentPer100k =
      100.0 * static_cast<double>(grown) / static_cast<double>(live) * 100000.0 / static_cast<double>(updates);
  std::printf(
      "[figures] same-length edits of 200 B-20 KB records (%s): %ld updates over %d records, %.1f MiB live; "
      "data file grew %lld bytes = %.2f%% of live data per 100,000 updates (limit 10%%); %.1f us per update\n",
      argc > 3 ? argv[3] : "CLOSE", updates, records, static_cast<double>(live) / (1 << 20),
      static_cast<long long>(grown), percentPer100k, 1e6 * seconds / static_cast<double>(updates));
  return percentPer100k <= 10.0 ? 0 : 1;
}
