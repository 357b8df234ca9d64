// Many threads on the registry and its engines, as the native methods drive
// them: look the id up, take the engine's lock, run the operation. Sixteen
// threads share one database, four more share a second, and on a third four
// threads race one that closes, reopens and re-registers it. Each worker owns
// its keys, so it knows exactly which of its calls were acknowledged; at the
// end, and after every database is reopened, each database must hold exactly
// those records. Built with ThreadSanitizer as well (scripts/sanitizers.sh).

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <random>
#include <thread>

#include "jni/database_registry.h"
#include "reliability_support.h"

namespace mero::test {
namespace {

constexpr int kOpsPerWorker = 400;

struct Figures {
  std::atomic<long> calls{0};
  std::atomic<long> refusedWhileClosed{0};
  std::atomic<long> cycles{0};
};

// The native methods' frame: lookup under the registry lock, then the
// operation under the engine's lock; `missing` when no engine is open.
template <typename Result, typename Body>
Result call(DatabaseRegistry& registry, int32_t id, Result missing, Body body) {
  const std::shared_ptr<Database> db = registry.lookup(id);
  if (!db) return missing;
  LockGuard guard(db->lock());
  return body(*db);
}

using Model = std::map<std::string, std::vector<std::string>>;

// One worker: appends, updates in place and by moving, deletes, reads and
// finds its own records. With `closable` its database may be closed under
// it, so failure results are allowed, and then the call must have had no
// effect; otherwise every call must succeed.
void work(DatabaseRegistry& registry, const std::atomic<int32_t>& id, int worker, bool closable,
          Model& model, Figures& figures, std::atomic<int>& errors) {
  std::mt19937 random(static_cast<unsigned>(1000 + worker));
  const auto fail = [&](const std::string& what) {
    if (errors++ < 20) ADD_FAILURE() << "worker " << worker << ": " << what;
  };
  const auto refused = [&] {
    if (!closable) fail("a call on an open database was refused");
    ++figures.refusedWhileClosed;
  };
  int next = 0;
  for (int op = 0; op < kOpsPerWorker; ++op) {
    ++figures.calls;
    const int choice = static_cast<int>(random() % 10);
    if (model.empty() || choice < 3) {
      const std::string key = "w" + std::to_string(worker) + "-" + std::to_string(next++);
      const std::vector<std::string> values = {key, "city" + std::to_string(worker % 4), "n"};
      const auto status = call(registry, id, WriteStatus::notStored,
                               [&](Database& db) { return db.write(valuesOf(values)); });
      if (status == WriteStatus::appended) model[key] = values;
      else if (status == WriteStatus::notStored) refused();
      else fail("write answered " + std::to_string(static_cast<int>(status)));
      continue;
    }
    auto it = model.begin();
    std::advance(it, static_cast<long>(random() % model.size()));
    const std::string key = it->first;
    const int32_t position = call(registry, id, -1, [&](Database& db) { return db.getPos(key); });
    if (position < 0) {
      refused();
      continue;
    }
    if (choice < 6) {
      std::vector<std::string> values = it->second;
      // In place when the note keeps its length, moved when it grows; notes
      // are cut back before they get long.
      values[2] = choice == 3 || values[2].size() > 24 ? std::string(values[2].size() % 24 + 1, 'a' + op % 26)
                                                       : values[2] + "+grown";
      const bool ok = call(registry, id, false,
                           [&](Database& db) { return db.updateRecord(position, valuesOf(values)); });
      if (ok) it->second = values;
      else refused();
    } else if (choice < 8) {
      const bool ok = call(registry, id, false, [&](Database& db) { return db.deleteRecord(position); });
      if (ok) model.erase(it);
      else refused();
    } else {
      FieldValues read;
      std::vector<int32_t> found;
      const bool ok = call(registry, id, false, [&](Database& db) {
        FieldValues term = valuesOf({key, "", ""});
        found = db.find({0, 0, 0}, term);
        return db.getRecord(position, read) && db.isOpen();
      });
      if (!ok) {
        refused();
      } else {
        if (toStrings(read) != it->second) fail("record " + key + " reads back other values");
        if (found != std::vector<int32_t>{position}) fail("find of " + key + " does not give its one position");
      }
    }
  }
}

// Every worker's records, and nothing else, in the database as it is now.
void expectHolds(DatabaseRegistry& registry, int32_t id, const std::vector<Model>& models) {
  size_t total = 0;
  for (const Model& model : models) total += model.size();
  const std::shared_ptr<Database> db = registry.lookup(id);
  ASSERT_TRUE(db);
  LockGuard guard(db->lock());
  EXPECT_EQ(db->numRecs(), static_cast<int32_t>(total));
  EXPECT_EQ(inconsistencies(*db), "");
  FieldValues values;
  for (const Model& model : models)
    for (const auto& [key, expected] : model) {
      const int32_t position = db->getPos(key);
      ASSERT_GE(position, 0) << key << " was acknowledged but is missing";
      ASSERT_TRUE(db->getRecord(position, values));
      EXPECT_EQ(toStrings(values), expected);
    }
}

int32_t createAndOpen(DatabaseRegistry& registry, const std::string& base) {
  const int32_t id = registry.registerName(base);
  DbArray<uint8_t> indexed(3, 0);
  indexed.at(0) = 1;
  indexed.at(1) = 1;
  DbArray<DbString> names(3, DbString("field"));
  EXPECT_TRUE(registry.define(id, indexed, names));
  EXPECT_TRUE(registry.open(id, kKey, true));
  return id;
}

TEST(RegistryThreads, SharedDatabasesAndRacingCloseOpenUnregisterKeepEveryAcknowledgedCall) {
  ScratchDir dir;
  DatabaseRegistry registry;
  registry.attach();
  std::atomic<int32_t> idA{createAndOpen(registry, dir.base("a"))};
  std::atomic<int32_t> idB{createAndOpen(registry, dir.base("b"))};
  std::atomic<int32_t> idC{createAndOpen(registry, dir.base("c"))};

  constexpr int kOnA = 16, kOnB = 4, kOnC = 4;
  std::vector<Model> models(kOnA + kOnB + kOnC);
  Figures figures;
  std::atomic<int> errors{0};
  std::atomic<bool> workersDone{false};
  std::vector<std::thread> threads;
  for (int w = 0; w < kOnA + kOnB + kOnC; ++w) {
    std::atomic<int32_t>& id = w < kOnA ? idA : w < kOnA + kOnB ? idB : idC;
    threads.emplace_back(work, std::ref(registry), std::cref(id), w, w >= kOnA + kOnB, std::ref(models[w]),
                         std::ref(figures), std::ref(errors));
  }
  // Closes, reopens (with and without a close first) and re-registers C.
  std::thread racer([&] {
    std::mt19937 random(7);
    while (!workersDone) {
      const int32_t id = idC;
      switch (random() % 3) {
        case 0:
          EXPECT_TRUE(registry.close(id));
          std::this_thread::yield();
          EXPECT_TRUE(registry.open(id, kKey, true));
          break;
        case 1:
          EXPECT_TRUE(registry.open(id, kKey, true));
          break;
        default: {
          EXPECT_TRUE(registry.unregister(id));
          const int32_t fresh = registry.registerName(dir.base("c"));
          EXPECT_TRUE(registry.open(fresh, kKey, true));
          idC = fresh;
        }
      }
      ++figures.cycles;
      // A pause lets the workers in; without it the racer can hold the
      // registry lock nearly all the time and every call finds C closed.
      std::this_thread::sleep_for(std::chrono::microseconds(random() % 100));
    }
  });
  for (std::thread& t : threads) t.join();
  workersDone = true;
  racer.join();
  EXPECT_EQ(errors.load(), 0);
  EXPECT_LT(figures.refusedWhileClosed.load(), kOnC * kOpsPerWorker) << "no call on C ever ran";

  const auto slice = [&](int from, int to) { return std::vector<Model>(models.begin() + from, models.begin() + to); };
  expectHolds(registry, idA, slice(0, kOnA));
  expectHolds(registry, idB, slice(kOnA, kOnA + kOnB));
  expectHolds(registry, idC, slice(kOnA + kOnB, kOnA + kOnB + kOnC));
  for (const int32_t id : {idA.load(), idB.load(), idC.load()}) {
    EXPECT_TRUE(registry.close(id));
    EXPECT_TRUE(registry.open(id, kKey, true));
  }
  expectHolds(registry, idA, slice(0, kOnA));
  expectHolds(registry, idB, slice(kOnA, kOnA + kOnB));
  expectHolds(registry, idC, slice(kOnA + kOnB, kOnA + kOnB + kOnC));
  for (const int32_t id : {idA.load(), idB.load(), idC.load()}) EXPECT_TRUE(registry.unregister(id));

  std::printf("[figures] native threads: %d threads, %ld calls, %ld close/open/unregister cycles racing them, "
              "%ld calls refused on a closed engine, 0 lost\n",
              kOnA + kOnB + kOnC + 1, figures.calls.load(), figures.cycles.load(), figures.refusedWhileClosed.load());
}

}  // namespace
}  // namespace mero::test
