// Maintenance on an open database: syncing on request, compacting in
// place and copying it while it runs. What an application sees of them is
// tested through the packaged API (tests/java); here, what only the file
// layer sees: the syncs made, and a compact killed at every write.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <stdexcept>

#include "platform/write_faults.h"
#include "platform/write_log.h"
#include "test_support.h"

namespace mero::test {
namespace {

using writeLog::Event;

// After syncFiles(), in a mode that syncs nothing on its own, every file
// written to has been synced since its last write.
TEST(Maintenance, SyncFilesLeavesNoWriteUnsynced) {
  TempDir dir;
  const std::string base = dir.path("db");
  createStandardDatabase(base, 3);
  HeldDatabase db = openStandardDatabase(base, nullptr, SyncMode::off);
  ASSERT_TRUE(db);
  writeLog::start();
  ASSERT_EQ(db->write(values({"new", "Oslo", "n"})), WriteStatus::appended);
  ASSERT_TRUE(db->deleteRecord(db->getPos("k1")));
  ASSERT_TRUE(db->syncFiles());
  const std::vector<Event> events = writeLog::stop();
  std::map<std::string, bool> pending;  // path -> written since its last sync
  for (const Event& e : events) pending[e.path] = e.kind != Event::Kind::sync;
  for (const std::string extension : {".dat", ".idx", ".str"}) {
    ASSERT_TRUE(pending.count(base + extension)) << extension << " was neither written nor synced";
    EXPECT_FALSE(pending[base + extension]) << extension << " has writes that were not synced";
  }
}

// A database with dead bytes before, between and after live records: the
// first record deleted, one moved by a longer update, one updated in place.
Snapshot makeCompactable(const std::string& base) {
  createStandardDatabase(base, 12, 100);
  HeldDatabase db = openStandardDatabase(base);
  if (!db || !db->deleteRecord(db->getPos("k0")) ||
      !db->updateRecord(db->getPos("k4"), values({"k4", "moved", std::string(400, 'm')})) ||
      !db->deleteRecord(db->getPos("k11")))
    throw std::runtime_error("setup failed");
  return snapshotOf(*db);
}

std::vector<Record> valuesOf(const Snapshot& snapshot) {
  std::vector<Record> out;
  for (const LiveRecord& r : snapshot) out.push_back(r.values);
  return out;
}

TEST(Maintenance, CompactKeepsRecordsAndTheirOrderAtNewPositions) {
  TempDir dir;
  const std::string base = dir.path("db");
  const Snapshot before = makeCompactable(base);
  Database::Compaction result;
  HeldDatabase db = held(Database::compact(letGo(openStandardDatabase(base)), result));
  ASSERT_TRUE(db);
  ASSERT_TRUE(result.committed) << result.error;
  const Snapshot after = snapshotOf(*db);
  EXPECT_EQ(valuesOf(after), valuesOf(before));
  EXPECT_EQ(db->records().positionList(), result.newPositions);
  for (size_t r = 0; r < before.size(); ++r) EXPECT_EQ(result.oldPositions[r], before[r].position);
  Database::Usage usage;
  ASSERT_TRUE(db->usage(usage));
  EXPECT_EQ(usage.liveBytes, usage.dataBytes) << "dead bytes left";
  EXPECT_EQ(checkConsistency(*db, base), "");
  EXPECT_EQ(db->write(values({"later", "Lima", "n"})), WriteStatus::appended);
  db.reset();
  db = openStandardDatabase(base);
  ASSERT_TRUE(db);
  EXPECT_EQ(snapshotOf(*db).size(), before.size() + 1);
  EXPECT_FALSE(std::filesystem::exists(base + ".rewrite"));
}

// Killed at every write (the drafts and the marker; the renames after it
// are the shared commit, killed at every step by the tool's tests), or torn
// inside it: the next open has the old files or the new ones, whole.
TEST(Maintenance, CompactKilledAtEveryWriteLeavesOldOrNewFilesWhole) {
  TempDir scratch;
  const std::string original = scratch.path("original");
  const Snapshot before = makeCompactable(original);
  bool reachedTheEnd = false;
  for (long k = 1; !reachedTheEnd && k < 200; ++k) {
    for (const writeFaults::Action action : {writeFaults::Action::abort, writeFaults::Action::tear}) {
      TempDir dir;
      const std::string base = dir.path("db");
      for (const char* extension : {".str", ".dat", ".idx"})
        writeFile(base + extension, readFile(original + extension));
      const int status = runInChild([&] {
        std::unique_ptr<Database> db = letGo(openStandardDatabase(base));
        if (!db) _Exit(2);
        writeFaults::arm(k, action);
        Database::Compaction result;
        db = Database::compact(std::move(db), result);
        _Exit(result.committed ? 3 : 4);
      });
      if (status == 3) {
        reachedTheEnd = true;
        continue;
      }
      ASSERT_EQ(status, writeFaults::kExitStatus) << "write " << k;
      HeldDatabase db = openStandardDatabase(base);
      ASSERT_TRUE(db) << "unopenable after a kill at write " << k;
      const Snapshot state = snapshotOf(*db);
      EXPECT_EQ(valuesOf(state), valuesOf(before)) << "write " << k << ": " << describe(state);
      EXPECT_EQ(checkConsistency(*db, base), "") << "write " << k;
      for (const char* leftover : {".dat.new", ".idx.new", ".rewrite"})
        EXPECT_FALSE(std::filesystem::exists(base + leftover)) << leftover << " left after write " << k;
    }
  }
  EXPECT_TRUE(reachedTheEnd) << "compact never ran to its end";
}

}  // namespace
}  // namespace mero::test
