// Each single file write of each record operation fails in turn. The
// operation must report the failure, the engine must answer exactly as
// before the call, the files must reopen to that same state, and the same
// call must succeed once the fault has passed.

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <fstream>

#include "jni/database_registry.h"
#include "platform/write_faults.h"
#include "reliability_support.h"

namespace mero::test {
namespace {

class WriteFailures : public ::testing::TestWithParam<int> {};

TEST_P(WriteFailures, EveryFailedWriteIsReportedAndChangesNothing) {
  const Scenario scenario = recordScenarios()[static_cast<size_t>(GetParam())];
  Snapshot before, after;
  long writes = 0;
  {
    ScratchDir dir;
    createTestDatabase(dir.base("db"), scenario.recordsBefore);
    std::unique_ptr<Database> db = openTestDatabase(dir.base("db"));
    before = snapshotOf(*db);
    writeFaults::disarm();
    ASSERT_TRUE(scenario.run(*db));
    writes = writeFaults::writesSoFar();
    after = snapshotOf(*db);
  }
  ASSERT_GT(writes, 0);

  for (long k = 1; k <= writes; ++k) {
    SCOPED_TRACE(scenario.name + ", write " + std::to_string(k) + " fails");
    ScratchDir dir;
    const std::string base = dir.base("db");
    createTestDatabase(base, scenario.recordsBefore);
    std::unique_ptr<Database> db = openTestDatabase(base);
    ASSERT_EQ(snapshotOf(*db), before);

    writeFaults::arm(k, writeFaults::Action::fail);
    const bool acknowledged = scenario.run(*db);
    writeFaults::disarm();
    EXPECT_FALSE(acknowledged);
    EXPECT_EQ(snapshotOf(*db), before);
    EXPECT_EQ(inconsistencies(*db), "");
    const std::optional<Snapshot> onDisk = reopenSnapshot(base);
    ASSERT_TRUE(onDisk);
    EXPECT_EQ(*onDisk, before);

    ASSERT_TRUE(scenario.run(*db)) << "the same call after the fault";
    const Snapshot done = snapshotOf(*db);
    EXPECT_TRUE(done.sameValues(after)) << done.describe() << "\nexpected " << after.describe();
    EXPECT_EQ(inconsistencies(*db), "");
    db.reset();
    const std::optional<Snapshot> reopened = reopenSnapshot(base);
    ASSERT_TRUE(reopened);
    EXPECT_EQ(*reopened, done);
  }
  std::printf("[figures] failed writes: %s: %ld of %ld failed in turn, all reported, 0 lost\n",
              scenario.name.c_str(), writes, writes);
}

INSTANTIATE_TEST_SUITE_P(RecordOperations, WriteFailures,
                         ::testing::Range(0, static_cast<int>(recordScenarios().size())), [](const auto& info) { return testNameOf(info.param); });

// A repair that cannot write refuses the open rather than hand out a half
// repaired database; the next open repairs it.
TEST(WriteFailuresAtOpen, AFailedRepairRefusesTheOpenAndTheNextOpenRepairs) {
  ScratchDir refDir;
  createTestDatabase(refDir.base("db"), 4);
  {
    std::unique_ptr<Database> db = openTestDatabase(refDir.base("db"));
    ASSERT_TRUE(db->deleteRecord(db->getPos("k0")));
  }
  const std::optional<Snapshot> completed = reopenSnapshot(refDir.base("db"));

  for (long k = 1; k <= 2; ++k) {
    SCOPED_TRACE("repair write " + std::to_string(k) + " fails");
    ScratchDir dir;
    const std::string base = dir.base("db");
    createTestDatabase(base, 4);
    ASSERT_EQ(runInChild([&] {
                std::unique_ptr<Database> db = openTestDatabase(base);
                writeFaults::arm(2, writeFaults::Action::abort);
                db->deleteRecord(db->getPos("k0"));
              }),
              86);
    writeFaults::arm(k, writeFaults::Action::fail);
    EXPECT_FALSE(openTestDatabase(base));
    writeFaults::disarm();
    EXPECT_EQ(reopenSnapshot(base), completed);
  }
}

TEST(WriteFailuresAtDefine, AFailedSchemaWriteIsReportedAndDefineCanBeRepeated) {
  ScratchDir dir;
  const std::string base = dir.base("db");
  DatabaseRegistry registry;
  registry.attach();
  const int32_t id = registry.registerName(base);
  DbArray<uint8_t> indexed(2, 1);
  DbArray<DbString> names(2, DbString("field"));

  writeFaults::arm(1, writeFaults::Action::fail);
  EXPECT_FALSE(registry.define(id, indexed, names));
  writeFaults::disarm();
  std::ifstream schema(base + ".str", std::ios::binary | std::ios::ate);
  EXPECT_EQ(schema.tellg(), 0) << "nothing of the failed block may reach the file";

  EXPECT_TRUE(registry.define(id, indexed, names));
  ASSERT_TRUE(registry.open(id, "key", false));
  EXPECT_EQ(registry.lookup(id)->fieldCount(), 2);
  EXPECT_TRUE(registry.unregister(id));
}

}  // namespace
}  // namespace mero::test
