// What each sync mode costs per operation: the same load (appends, same-length
// updates, deletes, and a close after a change) run against a fresh database
// in each mode, in one run, on the disk of the temporary folder. Prints
// microseconds per call and each mode's ratio to OFF, measured alongside.
//
// Usage: mero_sync_mode_bench [CALLS]   (default 300 of each kind)

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/database.h"
#include "engine/schema.h"

namespace {

using mero::Database;
using mero::DbArray;
using mero::DbString;
using mero::FieldValues;
using mero::SyncMode;
using Clock = std::chrono::steady_clock;

struct Costs {
  double append = 0, update = 0, erase = 0, close = 0;  // microseconds per call
};

FieldValues record(int i, size_t noteBytes, char letter) {
  FieldValues values;
  values.add("key-" + std::to_string(i));
  values.add("city-" + std::to_string(i % 50));
  values.add(std::string(noteBytes, letter));
  return values;
}

double microsPer(Clock::duration elapsed, int calls) {
  return std::chrono::duration<double, std::micro>(elapsed).count() / calls;
}

Costs measure(SyncMode mode, int calls, const std::string& dir) {
  const std::string base = dir + "/db";
  DbArray<uint8_t> indexed(3, 1);
  indexed.at(2) = 0;
  DbArray<DbString> names(3, DbString());
  names.at(0) = "key";
  names.at(1) = "city";
  names.at(2) = "note";
  if (!mero::defineSchema(base, indexed, names, mode)) throw std::runtime_error("define failed");
  std::unique_ptr<Database> db = Database::open(base, "bench", true, nullptr, mode);
  if (!db) throw std::runtime_error("open failed");

  // Notes of 100 B to 6 KB: single-sector, multi-sector and multi-page images.
  std::mt19937 random(42);
  std::vector<size_t> noteBytes;
  for (int i = 0; i < calls; ++i) noteBytes.push_back(100 + random() % 6000);
  Costs costs;
  Clock::time_point start = Clock::now();
  for (int i = 0; i < calls; ++i)
    if (db->write(record(i, noteBytes[i], 'a')) != mero::WriteStatus::appended) throw std::runtime_error("append");
  costs.append = microsPer(Clock::now() - start, calls);

  std::vector<int> order(static_cast<size_t>(calls));
  for (int i = 0; i < calls; ++i) order[static_cast<size_t>(i)] = i;
  std::shuffle(order.begin(), order.end(), random);
  start = Clock::now();
  for (const int i : order) {
    const int32_t position = db->getPos("key-" + std::to_string(i));
    if (!db->updateRecord(position, record(i, noteBytes[i], 'b'))) throw std::runtime_error("update");
  }
  costs.update = microsPer(Clock::now() - start, calls);

  start = Clock::now();
  for (const int i : order) {
    if (!db->deleteRecord(db->getPos("key-" + std::to_string(i)))) throw std::runtime_error("delete");
  }
  costs.erase = microsPer(Clock::now() - start, calls);
  db->shutdown();

  // A close after one change, each time: what CLOSE pays for its promise.
  const int closes = calls / 10 > 0 ? calls / 10 : 1;
  Clock::duration closing{};
  for (int i = 0; i < closes; ++i) {
    db = Database::open(base, "bench", true, nullptr, mode);
    if (!db || db->write(record(calls + i, 1000, 'c')) != mero::WriteStatus::appended)
      throw std::runtime_error("reopen");
    start = Clock::now();
    if (!db->shutdown()) throw std::runtime_error("close");
    closing += Clock::now() - start;
  }
  costs.close = microsPer(closing, closes);
  return costs;
}

}  // namespace

int main(int argc, char** argv) {
  const int calls = argc > 1 ? std::atoi(argv[1]) : 300;
  const SyncMode modes[] = {SyncMode::off, SyncMode::close, SyncMode::full};
  const char* modeNames[] = {"OFF", "CLOSE", "FULL"};
  // The modes take turns, three rounds; each figure is the best of its three,
  // since a shared disk only ever adds time.
  Costs costs[3];
  for (int round = 0; round < 3; ++round) {
    for (int m = 0; m < 3; ++m) {
      const std::filesystem::path dir =
          std::filesystem::temp_directory_path() / ("mero-sync-bench-" + std::to_string(m));
      std::filesystem::remove_all(dir);
      std::filesystem::create_directories(dir);
      const Costs c = measure(modes[m], calls, dir.string());
      std::filesystem::remove_all(dir);
      Costs& best = costs[m];
      const auto keep = [&](double& b, double v) { b = round == 0 ? v : std::min(b, v); };
      keep(best.append, c.append);
      keep(best.update, c.update);
      keep(best.erase, c.erase);
      keep(best.close, c.close);
    }
  }
  std::printf("%d calls of each kind, best of 3 rounds, microseconds per call (ratio to OFF)\n", calls);
  std::printf("| mode  | append | update | delete | close after a change |\n");
  std::printf("|-------|--------|--------|--------|----------------------|\n");
  for (int m = 0; m < 3; ++m) {
    const Costs& c = costs[m];
    const Costs& off = costs[0];
    std::printf("| %-5s | %.0f (%.1fx) | %.0f (%.1fx) | %.0f (%.1fx) | %.0f (%.1fx) |\n", modeNames[m], c.append,
                c.append / off.append, c.update, c.update / off.update, c.erase, c.erase / off.erase, c.close,
                c.close / off.close);
  }
  return 0;
}
