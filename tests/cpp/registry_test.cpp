// The registry: ids, entries, the life of a database through define, open,
// close and unregister, and many threads racing through it as the native
// methods do (built with ThreadSanitizer as well, by scripts/sanitizers.sh).

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <map>
#include <mutex>
#include <random>
#include <thread>

#include "jni/database_registry.h"
#include "platform/background_thread.h"
#include "platform/write_faults.h"
#include "test_support.h"

namespace mero {
namespace {

class RegistryTest : public ::testing::Test {
 protected:
  RegistryTest() : registry_(DatabaseRegistry::instance()) { registry_.attach(); }
  DbArray<uint8_t> flags(int n, uint8_t v) { return DbArray<uint8_t>(n, v); }
  DbArray<DbString> names(std::initializer_list<const char*> list) {
    DbArray<DbString> out;
    out.resize(static_cast<int32_t>(list.size()));
    int32_t i = 0;
    for (const char* n : list) out.at(i++) = n;
    return out;
  }

  DatabaseRegistry& registry_;
  test::TempDir dir_;
};

TEST_F(RegistryTest, IdsCountUpAndAreNeverReused) {
  const int32_t first = registry_.registerName("a");
  EXPECT_EQ(registry_.registerName("b"), first + 1);
  EXPECT_EQ(registry_.registerName("a"), first + 2);  // same name, own entry
  EXPECT_TRUE(registry_.unregister(first));
  EXPECT_FALSE(registry_.unregister(first));
  EXPECT_EQ(registry_.registerName("c"), first + 3);
  // The entry moved into the freed place still answers to its own id.
  EXPECT_TRUE(registry_.unregister(first + 2));
  EXPECT_TRUE(registry_.unregister(first + 1));
  EXPECT_TRUE(registry_.unregister(first + 3));
  EXPECT_FALSE(registry_.unregister(first + 3));
  EXPECT_FALSE(registry_.close(12345));
  EXPECT_FALSE(registry_.open(12345, "k", true));
}

TEST_F(RegistryTest, DefineOpenCloseLifecycle) {
  const std::string base = dir_.path("db");
  const int32_t id = registry_.registerName(base);
  EXPECT_FALSE(registry_.define(id, flags(2, 1), names({"a", "b", "c"})));
  EXPECT_FALSE(std::filesystem::exists(base + ".str"));
  EXPECT_TRUE(registry_.close(id));  // never opened: nothing to release
  ASSERT_TRUE(registry_.define(id, flags(2, 1), names({"name", "city"})));
  ASSERT_TRUE(registry_.open(id, "key", true));
  EXPECT_FALSE(registry_.define(id, flags(1, 0), names({"x"})));  // refused while open

  std::shared_ptr<Database> db = registry_.lookup(id);
  ASSERT_TRUE(db);
  {
    LockGuard guard(db->lock());
    ASSERT_EQ(db->write(test::values({"k", "v"})), WriteStatus::appended);
  }
  // Opening again replaces the engine; the one still held answers failures.
  ASSERT_TRUE(registry_.open(id, "key", true));
  {
    LockGuard guard(db->lock());
    EXPECT_FALSE(db->isOpen());
    EXPECT_EQ(db->write(test::values({"k2", "v"})), WriteStatus::notStored);
    EXPECT_EQ(db->numRecs(), 0);
  }
  {
    const std::shared_ptr<Database> current = registry_.lookup(id);
    LockGuard guard(current->lock());
    EXPECT_EQ(current->numRecs(), 1);
  }
  EXPECT_TRUE(registry_.close(id));
  EXPECT_TRUE(registry_.close(id));
  EXPECT_EQ(registry_.lookup(id), nullptr);

  // After close, define is refused while the database holds records: a new
  // schema would not match them.
  const auto schemaSize = std::filesystem::file_size(base + ".str");
  EXPECT_FALSE(registry_.define(id, flags(1, 0), names({"x"})));
  EXPECT_EQ(std::filesystem::file_size(base + ".str"), schemaSize);
  ASSERT_TRUE(registry_.open(id, "key", true));
  EXPECT_EQ(registry_.lookup(id)->fieldCount(), 2);
  // Unregistering an open database closes it.
  db = registry_.lookup(id);
  EXPECT_TRUE(registry_.unregister(id));
  EXPECT_FALSE(db->isOpen());
  EXPECT_FALSE(registry_.define(id, flags(1, 0), names({"x"})));
}

// One engine per set of files: while one holds them, every other open of
// the same files is refused with its reason and writes nothing, whether it
// comes under another id or names the files by another path; the files open
// again as soon as the holder closes or dies.
TEST_F(RegistryTest, ASecondOpenOfTheSameFilesIsRefused) {
  const std::string base = dir_.path("held");
  test::createDatabase(base, {true})->write(test::values({"a"}));
  std::filesystem::create_directory_symlink(dir_.path(""), dir_.path("link"));
  const std::vector<std::string> spellings = {
      base, dir_.path("link/held"), dir_.path("./held"),
      std::filesystem::relative(base, std::filesystem::current_path()).string()};
  const int32_t holder = registry_.registerName(base);
  ASSERT_TRUE(registry_.open(holder, "key", true));
  const std::string dataBefore = test::readFile(base + ".dat");
  for (const std::string& spelling : spellings) {
    SCOPED_TRACE(spelling);
    OpenFailure why = OpenFailure::none;
    EXPECT_EQ(Database::open(spelling, "key", true, &why), nullptr);
    EXPECT_EQ(why, OpenFailure::locked);
    const int32_t other = registry_.registerName(spelling);
    EXPECT_FALSE(registry_.open(other, "key", true));
    EXPECT_EQ(registry_.lookup(other), nullptr);
    EXPECT_FALSE(registry_.define(other, flags(1, 0), names({"x"})));
    EXPECT_TRUE(registry_.unregister(other));
  }
  EXPECT_EQ(test::readFile(base + ".dat"), dataBefore);
  EXPECT_TRUE(registry_.close(holder));
  for (const std::string& spelling : spellings) EXPECT_NE(Database::open(spelling, "key", true), nullptr);
  // A holder that dies without closing releases the files with its process.
  ASSERT_EQ(test::runInChild([&] {
              std::unique_ptr<Database> db = Database::open(base, "key", true);
              if (db) raise(SIGKILL);
            }),
            128 + SIGKILL);
  EXPECT_NE(Database::open(base, "key", true), nullptr);
  EXPECT_TRUE(registry_.unregister(holder));
}

// Where the file system keeps no locks the files cannot be held, so open
// refuses with that reason rather than going on unguarded; define, which
// needs the lock too, is refused as well, and nothing is left behind.
TEST_F(RegistryTest, AFileSystemWithoutLocksIsReported) {
  const std::string existing = dir_.path("existing");
  test::createDatabase(existing, {true})->write(test::values({"a"}));
  const std::string dataBefore = test::readFile(existing + ".dat");
  writeFaults::setLocksUnsupported(true);
  for (const std::string& base : {existing, dir_.path("new")}) {
    SCOPED_TRACE(base);
    OpenFailure why = OpenFailure::none;
    EXPECT_EQ(Database::open(base, "key", true, &why), nullptr);
    EXPECT_EQ(why, OpenFailure::lockUnsupported);
    const int32_t id = registry_.registerName(base);
    EXPECT_FALSE(registry_.define(id, flags(1, 0), names({"x"})));
    EXPECT_FALSE(registry_.open(id, "key", true));
    EXPECT_TRUE(registry_.unregister(id));
  }
  writeFaults::setLocksUnsupported(false);
  EXPECT_EQ(test::readFile(existing + ".dat"), dataBefore);
  for (const char* extension : {".str", ".dat", ".idx"})
    EXPECT_FALSE(std::filesystem::exists(dir_.path("new") + extension)) << extension;
  EXPECT_NE(Database::open(existing, "key", true), nullptr);
}

// A close waits for the call in flight: while a call holds the engine's lock
// (as every record operation does for its whole run), close must neither
// return nor release the files under it.
TEST_F(RegistryTest, CloseWaitsForTheCallInFlight) {
  const int32_t id = registry_.registerName(dir_.path("db"));
  ASSERT_TRUE(registry_.define(id, flags(1, 1), names({"name"})));
  ASSERT_TRUE(registry_.open(id, "key", true));
  const std::shared_ptr<Database> db = registry_.lookup(id);
  std::atomic<bool> closed{false};
  db->lock().enter();
  std::thread closer([&] {
    EXPECT_TRUE(registry_.close(id));
    closed = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));  // time for a close that does not wait to end
  EXPECT_FALSE(closed) << "close returned while a call held the engine";
  EXPECT_TRUE(db->isOpen());
  EXPECT_EQ(db->write(test::values({"in flight"})), WriteStatus::appended);
  db->lock().leave();
  closer.join();
  EXPECT_TRUE(closed);
  LockGuard guard(db->lock());
  EXPECT_FALSE(db->isOpen());
}

// Sixteen threads share database A, four share B, and four work on C while
// another thread closes, reopens and re-registers it. Each worker owns its
// keys, so it knows exactly which of its calls were acknowledged; at the end,
// and after every database is reopened, each database must hold exactly
// those records. A call on C may find it closed: then it must have had no
// effect.
using Model = std::map<std::string, test::Record>;

void work(DatabaseRegistry& registry, const std::atomic<int32_t>& id, int worker, bool closable, Model& model,
          std::atomic<long>& refused, std::atomic<long>& ran, std::atomic<int>& errors) {
  std::mt19937 random(static_cast<unsigned>(1000 + worker));
  const auto fail = [&](const std::string& what) {
    if (errors++ < 20) ADD_FAILURE() << "worker " << worker << ": " << what;
  };
  const auto closed = [&] {
    if (!closable) fail("a call on an open database was refused");
    ++refused;
  };
  int next = 0;
  for (int op = 0; op < 400; ++op) {
    const int choice = static_cast<int>(random() % 10);
    if (model.empty() || choice < 3) {
      const std::string key = "w" + std::to_string(worker) + "-" + std::to_string(next++);
      const test::Record record = {key, "city" + std::to_string(worker % 4), "n"};
      const WriteStatus status =
          registry.withOpen(id, WriteStatus::notStored, [&](Database& db) { return db.write(test::values(record)); });
      if (status == WriteStatus::appended) {
        model[key] = record;
        if (closable) ++ran;
      } else if (status == WriteStatus::notStored)
        closed();
      else
        fail("write answered " + std::to_string(static_cast<int>(status)));
      continue;
    }
    auto it = model.begin();
    std::advance(it, static_cast<long>(random() % model.size()));
    const std::string key = it->first;
    const int32_t position = registry.withOpen(id, -1, [&](Database& db) { return db.getPos(key); });
    if (position < 0) {
      closed();
      continue;
    }
    if (closable) ++ran;
    if (choice < 6) {
      // In place when the note keeps its length, moved when it grows.
      test::Record record = it->second;
      record[2] = choice == 3 || record[2].size() > 24 ? std::string(record[2].size() % 24 + 1, 'a' + op % 26)
                                                       : record[2] + "+grown";
      if (registry.withOpen(id, false, [&](Database& db) { return db.updateRecord(position, test::values(record)); }))
        it->second = record;
      else
        closed();
    } else if (choice < 8) {
      if (registry.withOpen(id, false, [&](Database& db) { return db.deleteRecord(position); }))
        model.erase(it);
      else
        closed();
    } else {
      FieldValues read;
      std::vector<int32_t> found;
      const bool ok = registry.withOpen(id, false, [&](Database& db) {
        found = db.find({0, 0, 0}, test::values({key, "", ""}));
        return db.getRecord(position, read) && db.isOpen();
      });
      if (!ok)
        closed();
      else if (test::toRecord(read) != it->second || found != std::vector<int32_t>{position})
        fail("record " + key + " reads or finds otherwise");
    }
  }
}

void expectHolds(DatabaseRegistry& registry, int32_t id, const std::string& base, const std::vector<Model>& models) {
  registry.withOpen(id, 0, [&](Database& db) {
    size_t total = 0;
    for (const Model& model : models) total += model.size();
    EXPECT_EQ(db.numRecs(), static_cast<int32_t>(total));
    EXPECT_EQ(test::checkConsistency(db, base), "");
    FieldValues read;
    for (const Model& model : models)
      for (const auto& [key, expected] : model) {
        const int32_t position = db.getPos(key);
        EXPECT_TRUE(position >= 0 && db.getRecord(position, read) && test::toRecord(read) == expected) << key;
      }
    return 0;
  });
}

TEST_F(RegistryTest, ThreadsWithARacingCloseOpenUnregisterKeepEveryAcknowledgedCall) {
  const auto create = [&](const std::string& base) {
    const int32_t id = registry_.registerName(base);
    EXPECT_TRUE(registry_.define(id, flags(3, 1), names({"name", "city", "note"})));
    EXPECT_TRUE(registry_.open(id, test::kKey, true));
    return id;
  };
  const std::string bases[3] = {dir_.path("a"), dir_.path("b"), dir_.path("c")};
  std::atomic<int32_t> ids[3] = {create(bases[0]), create(bases[1]), create(bases[2])};
  constexpr int kWorkers[3] = {16, 4, 4};
  std::vector<std::vector<Model>> models = {std::vector<Model>(16), std::vector<Model>(4), std::vector<Model>(4)};
  std::atomic<long> refused{0};
  std::atomic<long> ran{0};  // calls on C that found it open
  std::atomic<int> errors{0};
  std::atomic<bool> workersDone{false};
  std::vector<std::thread> threads;
  for (int d = 0; d < 3; ++d)
    for (int w = 0; w < kWorkers[d]; ++w)
      threads.emplace_back(work, std::ref(registry_), std::cref(ids[d]), 100 * d + w, d == 2,
                           std::ref(models[static_cast<size_t>(d)][static_cast<size_t>(w)]), std::ref(refused),
                           std::ref(ran), std::ref(errors));
  std::thread racer([&] {
    std::mt19937 random(7);
    long ranBefore = 0;
    while (!workersDone) {
      // C stays open until a call has run on it since the last cycle, so that
      // however the threads are scheduled, the calls are not all refused.
      while (!workersDone && ran == ranBefore) std::this_thread::yield();
      ranBefore = ran;
      const int32_t id = ids[2];
      switch (random() % 3) {
        case 0:
          EXPECT_TRUE(registry_.close(id));
          std::this_thread::yield();
          EXPECT_TRUE(registry_.open(id, test::kKey, true));
          break;
        case 1:
          EXPECT_TRUE(registry_.open(id, test::kKey, true));
          break;
        default: {
          EXPECT_TRUE(registry_.unregister(id));
          const int32_t fresh = registry_.registerName(bases[2]);
          EXPECT_TRUE(registry_.open(fresh, test::kKey, true));
          ids[2] = fresh;
        }
      }
    }
  });
  for (std::thread& t : threads) t.join();
  workersDone = true;
  racer.join();
  EXPECT_EQ(errors.load(), 0);
  EXPECT_LT(refused.load(), 4 * 400) << "no call on C ever ran";
  for (int round = 0; round < 2; ++round) {
    for (int d = 0; d < 3; ++d) expectHolds(registry_, ids[d], bases[d], models[static_cast<size_t>(d)]);
    for (int d = 0; d < 3; ++d) EXPECT_TRUE(registry_.open(ids[d], test::kKey, true));
  }
  for (int d = 0; d < 3; ++d) EXPECT_TRUE(registry_.unregister(ids[d]));
}

// The thread that frees closed engines takes one task at a time: a task
// handed over while another runs starts once that one has ended, wait()
// returns only after the task under way, and the thread's end lets that
// task finish first.
TEST(BackgroundThreadTest, RunsTasksOneAtATimeInOrderAndWaitsForThem) {
  struct Log {
    std::atomic<int> running{0};
    std::atomic<int> overlaps{0};
    std::mutex mutex;
    std::vector<int> ended;
  } log;
  struct Step {
    Log* log;
    int id;
  };
  const auto task = [](void* argument) {
    const Step& step = *static_cast<Step*>(argument);
    if (step.log->running.fetch_add(1) != 0) step.log->overlaps++;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    {
      std::lock_guard<std::mutex> guard(step.log->mutex);
      step.log->ended.push_back(step.id);
    }
    step.log->running.fetch_sub(1);
  };
  std::vector<Step> steps;
  for (int i = 0; i < 6; ++i) steps.push_back({&log, i});
  std::vector<int> expected;
  {
    BackgroundThread thread;
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(thread.run(task, &steps[i]));
    thread.wait();
    {
      std::lock_guard<std::mutex> guard(log.mutex);
      EXPECT_EQ(log.ended, (std::vector<int>{0, 1, 2, 3, 4}));
    }
    ASSERT_TRUE(thread.run(task, &steps[5]));  // still under way when the thread goes
  }
  EXPECT_EQ(log.ended, (std::vector<int>{0, 1, 2, 3, 4, 5}));
  EXPECT_EQ(log.overlaps, 0);
}

}  // namespace
}  // namespace mero
