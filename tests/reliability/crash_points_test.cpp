// The process dies just before each single file write of each record
// operation (and of the repair that open makes after a torn delete). The
// database must open afterwards, show the state before the operation or the
// state after it and nothing else, and go on taking records at the true end
// of its data file.

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>

#include "platform/write_faults.h"
#include "reliability_support.h"

namespace mero::test {
namespace {

constexpr int kAbortStatus = 86;  // what the fault hook exits with

std::string fileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct Reference {
  Snapshot before;
  Snapshot after;
  long writes = 0;
};

Reference runWithoutFaults(const Scenario& scenario) {
  ScratchDir dir;
  const std::string base = dir.base("db");
  createTestDatabase(base, scenario.recordsBefore);
  std::unique_ptr<Database> db = openTestDatabase(base);
  Reference ref;
  ref.before = snapshotOf(*db);
  writeFaults::disarm();
  EXPECT_TRUE(scenario.run(*db));
  ref.writes = writeFaults::writesSoFar();
  ref.after = snapshotOf(*db);
  return ref;
}

// After any crash the database must take a new record at the end of its data
// file and keep it across another open.
void expectUsableAfterCrash(const std::string& base, const Snapshot& state) {
  std::unique_ptr<Database> db = openTestDatabase(base);
  ASSERT_TRUE(db);
  EXPECT_EQ(inconsistencies(*db), "");
  const int64_t end = db->dataFileSize();
  ASSERT_EQ(db->write(valuesOf({"later", "Lima", "after the crash"})), WriteStatus::appended);
  Snapshot expected = state;
  expected.records.push_back({static_cast<int32_t>(end), {"later", "Lima", "after the crash"}});
  EXPECT_EQ(snapshotOf(*db), expected);
  db.reset();
  const std::optional<Snapshot> reopened = reopenSnapshot(base);
  ASSERT_TRUE(reopened);
  EXPECT_EQ(*reopened, expected);
}

class CrashPoints : public ::testing::TestWithParam<int> {};

TEST_P(CrashPoints, EveryWriteLeavesTheStateBeforeOrAfter) {
  const Scenario scenario = recordScenarios()[static_cast<size_t>(GetParam())];
  const Reference ref = runWithoutFaults(scenario);
  ASSERT_GT(ref.writes, 0);
  ASSERT_NE(ref.before, ref.after);

  int endedBefore = 0, endedAfter = 0;
  for (long k = 1; k <= ref.writes; ++k) {
    SCOPED_TRACE(scenario.name + ", process ended before write " + std::to_string(k));
    ScratchDir dir;
    const std::string base = dir.base("db");
    createTestDatabase(base, scenario.recordsBefore);
    const int status = runInChild([&] {
      std::unique_ptr<Database> db = openTestDatabase(base);
      if (!db) _Exit(2);
      writeFaults::arm(k, writeFaults::Action::abort);
      scenario.run(*db);
      _Exit(3);  // the operation made fewer writes than the reference
    });
    ASSERT_EQ(status, kAbortStatus);

    const std::optional<Snapshot> reopened = reopenSnapshot(base);
    ASSERT_TRUE(reopened) << "open failed after the crash";
    const bool isBefore = *reopened == ref.before;
    const bool isAfter = *reopened == ref.after;
    EXPECT_TRUE(isBefore || isAfter) << "found " << reopened->describe() << "\nbefore "
                                     << ref.before.describe() << "\nafter " << ref.after.describe();
    endedBefore += isBefore;
    endedAfter += isAfter;
    expectUsableAfterCrash(base, *reopened);
  }
  // Nothing is written before the first write, so that crash cannot show the change.
  EXPECT_GE(endedBefore, 1);
  std::printf("[figures] crash points: %s: %ld writes, %ld crashes, %d showed the state before, %d after, 0 lost\n",
              scenario.name.c_str(), ref.writes, ref.writes, endedBefore, endedAfter);
}

INSTANTIATE_TEST_SUITE_P(RecordOperations, CrashPoints,
                         ::testing::Range(0, static_cast<int>(recordScenarios().size())), [](const auto& info) { return testNameOf(info.param); });

// A delete killed between shifting the index entries and writing the count
// leaves the last entry doubled; open completes the delete. The repair is
// itself killed at each of its writes, and the next open still completes it,
// to the very bytes a delete that ran through leaves in the index file.
TEST(TornDelete, RepairSurvivesACrashAtEachOfItsWrites) {
  const auto tearDelete = [](const std::string& base) {
    createTestDatabase(base, 5);
    const int status = runInChild([&] {
      std::unique_ptr<Database> db = openTestDatabase(base);
      writeFaults::arm(2, writeFaults::Action::abort);  // after the shift, before the count
      db->deleteRecord(db->getPos("k1"));
      _Exit(3);
    });
    ASSERT_EQ(status, kAbortStatus);
  };

  ScratchDir refDir;
  const std::string refBase = refDir.base("db");
  createTestDatabase(refBase, 5);
  {
    std::unique_ptr<Database> db = openTestDatabase(refBase);
    ASSERT_TRUE(db->deleteRecord(db->getPos("k1")));
  }
  const std::string completedIndex = fileBytes(refBase + ".idx");
  const std::optional<Snapshot> completed = reopenSnapshot(refBase);
  ASSERT_TRUE(completed);

  ScratchDir countDir;
  tearDelete(countDir.base("db"));
  writeFaults::disarm();
  ASSERT_TRUE(openTestDatabase(countDir.base("db")));
  const long repairWrites = writeFaults::writesSoFar();
  ASSERT_EQ(repairWrites, 2);  // the entries from the repeat on, then the count
  EXPECT_EQ(fileBytes(countDir.base("db") + ".idx"), completedIndex);

  for (long k = 1; k <= repairWrites; ++k) {
    SCOPED_TRACE("repair ended before write " + std::to_string(k));
    ScratchDir dir;
    const std::string base = dir.base("db");
    tearDelete(base);
    const int status = runInChild([&] {
      writeFaults::arm(k, writeFaults::Action::abort);
      openTestDatabase(base);
      _Exit(3);
    });
    ASSERT_EQ(status, kAbortStatus);
    const std::optional<Snapshot> reopened = reopenSnapshot(base);
    ASSERT_TRUE(reopened);
    EXPECT_EQ(*reopened, *completed);
    EXPECT_EQ(fileBytes(base + ".idx"), completedIndex);
  }
  std::printf("[figures] crash points: open repairing a torn delete: %ld writes, %ld crashes, 0 lost\n",
              repairWrites, repairWrites);
}

}  // namespace
}  // namespace mero::test
