// Maintenance on an open database: syncing on request, compacting in
// place and copying it while it runs. What an application sees of them is
// tested through the packaged API (tests/java); here, what only the file
// layer sees: the syncs made, and a compact killed at every write.

#include <gtest/gtest.h>

#include <map>
#include <set>

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
  std::unique_ptr<Database> db = openStandardDatabase(base, nullptr, SyncMode::off);
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

}  // namespace
}  // namespace mero::test
