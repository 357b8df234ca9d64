// Every write of every record operation, met with each fault the write-fault
// hook can stage: failed, half written and then failed, the process ended
// just before it, or the process ended with the write torn at its last page
// boundary. Each operation is named after the crash-order rule it checks
// (engine/crash_order.h).
//
// After a failure the call must report it, the engine must answer exactly as
// before, the files must reopen to that state, and the same call must succeed
// once the fault has passed. After the process ends the database must open
// sound, show the state before the call or the state after it, and take the
// next record at the true end of its data file.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>

#include "engine/rollback_journal.h"
#include "engine/schema.h"
#include "platform/write_faults.h"
#include "test_support.h"

namespace mero::test {
namespace {

using writeFaults::Action;

struct Operation {
  std::string name;
  int records;        // in the database before the call
  size_t valueBytes;  // padding of the city and note values
  std::function<bool(Database&)> run;
  bool endingsOnly = false;  // the failures are the same as a smaller case's
  SyncMode sync = SyncMode::close;
};

bool updateKey(Database& db, const std::string& key, const Record& record) {
  const int32_t position = db.getPos(key);
  return position >= 0 && db.updateRecord(position, values(record));
}

bool deleteKey(Database& db, const std::string& key) {
  const int32_t position = db.getPos(key);
  return position >= 0 && db.deleteRecord(position);
}

bool appendBatch(Database& db, const std::vector<Record>& records) {
  std::vector<FieldValues> batch;
  for (const Record& record : records) batch.push_back(values(record));
  std::vector<int32_t> positions;
  return db.appendBatch(batch, positions) == WriteStatus::appended;
}

// 262,999 entries after the first: a delete shifts over a MiB of index file.
constexpr int kManyRecords = 263000;
const std::string kPages(9000, 'p');  // values that make an image span pages

const std::vector<Operation>& operations() {
  static const std::vector<Operation> list = {
      {"Rule1_Append", 4, 0,
       [](Database& db) {
         return db.write(values({"new", "Oslo", "fresh"})) == WriteStatus::appended;
       }},
      {"Rule1_AppendToAnEmptyDatabase", 0, 0,
       [](Database& db) {
         return db.write(values({"first", "Rome", "one"})) == WriteStatus::appended;
       }},
      {"Rule1_AppendAcrossPages", 2, 0,
       [](Database& db) {
         return db.write(values({"big", kPages, kPages})) == WriteStatus::appended;
       }},
      {"Rule30_BatchAppend", 4, 0,
       [](Database& db) {
         return appendBatch(db, {{"b1", "Oslo", "x"}, {"b2", "Rome", ""}, {"b3", "Oslo", "y"}});
       }},
      {"Rule30_BatchAppendToAnEmptyDatabase", 0, 0,
       [](Database& db) {
         return appendBatch(db, {{"b1", "Oslo", "x"}, {"b2", "Rome", ""}});
       }},
      {"Rule30_BatchAppendAcrossPages", 2, 0,
       [](Database& db) {
         return appendBatch(db, {{"b1", kPages, ""}, {"b2", "", kPages}});
       }},
      {"Rule2_DeleteTheFirst", 4, 0, [](Database& db) { return deleteKey(db, "k0"); }},
      {"Rule2_DeleteAMiddleOne", 5, 0, [](Database& db) { return deleteKey(db, "k2"); }},
      {"Rule2_DeleteTheLast", 4, 0, [](Database& db) { return deleteKey(db, "k3"); }},
      {"Rule2_DeleteTheOnly", 1, 0, [](Database& db) { return deleteKey(db, "k0"); }},
      {"Rule2_DeleteShiftingAMiBOfEntries", kManyRecords, 0, [](Database& db) { return deleteKey(db, "k0"); }, true},
      {"Rule3_UpdateThatGrows", 4, 0,
       [](Database& db) {
         return updateKey(db, "k1", {"k1", "a longer city", "a longer note"});
       }},
      {"Rule3_UpdateToANewKey", 4, 0,
       [](Database& db) {
         return updateKey(db, "k2", {"renamed", "city2", "grown note 2"});
       }},
      {"Rule4_UpdateInPlace", 4, 0,
       [](Database& db) {
         return updateKey(db, "k1", {"k1", "CITY1", "NOTE 1"});
       }},
      {"Rule4_UpdateThatShrinks", 4, 0,
       [](Database& db) {
         return updateKey(db, "k2", {"k2", "c", ""});
       }},
      {"Rule4_ShrinkingUpdateAcrossPages", 3, 9000,
       [](Database& db) {
         return updateKey(db, "k1", {"k1", std::string(8000, 'a'), std::string(8000, 'b')});
       }},
      {"Rule4_EqualLengthUpdateAcrossPages", 3, 9000,
       [](Database& db) {
         return updateKey(db, "k1", {"k1", "CITY1" + std::string(9000, 'Y'), "NOTE 1" + std::string(9000, 'Z')});
       }},
      // In FULL every step is synced, and writes a power cut could tear at a
      // sector go through the journal: other writes, met with the same faults.
      {"Rule10_AppendInFull", 4, 0,
       [](Database& db) {
         return db.write(values({"new", "Oslo", "fresh"})) == WriteStatus::appended;
       },
       false, SyncMode::full},
      {"Rule11_MovedUpdateInFull", 4, 0,
       [](Database& db) {
         return updateKey(db, "k1", {"k1", "a longer city", "a longer note"});
       },
       false, SyncMode::full},
      {"Rule12_InPlaceAcrossSectorsInFull", 3, 300,
       [](Database& db) {
         return updateKey(db, "k1", {"k1", "CITY1" + std::string(300, 'Y'), "NOTE 1" + std::string(300, 'Z')});
       },
       false, SyncMode::full},
      {"Rule12_InPlaceAcrossPagesInFull", 3, 9000,
       [](Database& db) {
         return updateKey(db, "k1", {"k1", std::string(8000, 'a'), std::string(8000, 'b')});
       },
       false, SyncMode::full},
      {"Rule13_DeleteWithinASectorInFull", 5, 0, [](Database& db) { return deleteKey(db, "k2"); }, false,
       SyncMode::full},
      {"Rule13_DeleteAcrossSectorsInFull", 300, 0, [](Database& db) { return deleteKey(db, "k0"); }, false,
       SyncMode::full},
  };
  return list;
}

// Databases are made once per shape and copied for each case.
std::string templateOf(int records, size_t valueBytes) {
  static TempDir dir;
  static std::map<std::pair<int, size_t>, std::string> made;
  auto& base = made[{records, valueBytes}];
  if (base.empty()) {
    base = dir.path("template-" + std::to_string(records) + "-" + std::to_string(valueBytes));
    createStandardDatabase(base, records, valueBytes);
  }
  return base;
}

std::string copyOf(const Operation& op, const TempDir& dir) {
  const std::string from = templateOf(op.records, op.valueBytes);
  const std::string to = dir.path("db");
  for (const char* ext : {".str", ".dat", ".idx"})
    std::filesystem::copy_file(from + ext, to + ext, std::filesystem::copy_options::overwrite_existing);
  return to;
}

struct Reference {
  Snapshot before, after;
  long writes = 0;
};

Reference referenceRun(const Operation& op) {
  TempDir dir;
  const std::string base = copyOf(op, dir);
  HeldDatabase db = openStandardDatabase(base, nullptr, op.sync);
  Reference ref;
  ref.before = snapshotOf(*db);
  writeFaults::disarm();
  EXPECT_TRUE(op.run(*db));
  ref.writes = writeFaults::writesSoFar();
  ref.after = snapshotOf(*db);
  return ref;
}

// Between calls the journal's file, kept while the database is open, holds
// no journal: a journal left whole would roll the last call back at the
// next open (crash order rule 12).
bool holdsNoJournal(const std::string& base) {
  const std::string path = rollbackJournalPath(base);
  if (!std::filesystem::exists(path)) return true;
  const std::string bytes = readFile(path);
  return std::all_of(bytes.begin(), bytes.end(), [](char c) { return c == 0; });
}

bool sameValues(const Snapshot& a, const Snapshot& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (a[i].values != b[i].values) return false;
  return true;
}

void expectFailureChangedNothing(const Operation& op, const Reference& ref, long k, Action action) {
  TempDir dir;
  const std::string base = copyOf(op, dir);
  HeldDatabase db = openStandardDatabase(base, nullptr, op.sync);
  writeFaults::arm(k, action);
  EXPECT_FALSE(op.run(*db)) << "a failed write was reported as success";
  writeFaults::disarm();
  EXPECT_TRUE(holdsNoJournal(base)) << "a failed call left its journal";
  EXPECT_EQ(snapshotOf(*db), ref.before);
  EXPECT_EQ(checkConsistency(*db, base), "");
  EXPECT_TRUE(op.run(*db)) << "the call failed again once the fault had passed";
  EXPECT_TRUE(holdsNoJournal(base)) << "a call left its journal";
  EXPECT_TRUE(sameValues(snapshotOf(*db), ref.after));
  EXPECT_TRUE(db->shutdown());
  EXPECT_FALSE(std::filesystem::exists(rollbackJournalPath(base))) << "close left the journal's file";
  db.reset();
  db = openStandardDatabase(base);
  ASSERT_TRUE(db);
  EXPECT_TRUE(sameValues(snapshotOf(*db), ref.after));
}

void expectBeforeOrAfterOnceEnded(const Operation& op, const Reference& ref, long k, Action action) {
  TempDir dir;
  const std::string base = copyOf(op, dir);
  const int status = runInChild([&] {
    HeldDatabase db = openStandardDatabase(base, nullptr, op.sync);
    if (!db) _Exit(2);
    writeFaults::arm(k, action);
    op.run(*db);
    _Exit(3);  // the armed write never came
  });
  ASSERT_EQ(status, writeFaults::kExitStatus);
  OpenFailure why = OpenFailure::none;
  HeldDatabase db = openStandardDatabase(base, &why);
  ASSERT_TRUE(db) << "unopenable, reason " << static_cast<int>(why);
  EXPECT_FALSE(std::filesystem::exists(rollbackJournalPath(base))) << "open left the journal";
  EXPECT_EQ(checkConsistency(*db, base), "");
  Snapshot state = snapshotOf(*db);
  EXPECT_TRUE(state == ref.before || state == ref.after) << describe(state);
  // Nothing is written before the first write, so that kill cannot show the change.
  if (k == 1 && action == Action::abort) {
    EXPECT_EQ(state, ref.before);
  }
  const int32_t end = static_cast<int32_t>(db->dataFileSize());
  ASSERT_EQ(db->write(values({"later", "Lima", "after the crash"})), WriteStatus::appended);
  state.push_back({end, {"later", "Lima", "after the crash"}});
  db.reset();
  db = openStandardDatabase(base);
  ASSERT_TRUE(db);
  EXPECT_EQ(snapshotOf(*db), state);
}

class CrashOrder : public ::testing::TestWithParam<size_t> {};

TEST_P(CrashOrder, EveryFaultAtEveryWrite) {
  const Operation& op = operations()[GetParam()];
  const Reference ref = referenceRun(op);
  ASSERT_GT(ref.writes, 0);
  ASSERT_NE(ref.before, ref.after);
  for (long k = 1; k <= ref.writes; ++k) {
    for (const Action action : {Action::fail, Action::partial, Action::abort, Action::tear}) {
      if (op.endingsOnly && (action == Action::fail || action == Action::partial)) continue;
      SCOPED_TRACE("write " + std::to_string(k) + ", action " + std::to_string(static_cast<int>(action)));
      if (action == Action::fail || action == Action::partial)
        expectFailureChangedNothing(op, ref, k, action);
      else
        expectBeforeOrAfterOnceEnded(op, ref, k, action);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Operations, CrashOrder, ::testing::Range(size_t{0}, operations().size()),
                         [](const ::testing::TestParamInfo<size_t>& info) { return operations()[info.param].name; });

// Rule 5: a delete ended between its shift and its count leaves the last
// entry doubled. The repair at open meets every fault in turn: a failed
// repair refuses the open and leaves the doubled entry for the next one; an
// ended repair is finished by the next open. Either way the index file ends
// as a delete that ran through leaves it.
TEST(CrashOrder, Rule5_RepairOfATornDelete) {
  TempDir dir;
  const std::string base = dir.path("torn");
  createStandardDatabase(base, 5);
  const Operation& erase = *std::find_if(operations().begin(), operations().end(),
                                         [](const Operation& op) { return op.name == "Rule2_DeleteAMiddleOne"; });
  const Reference ref = referenceRun(erase);
  ASSERT_EQ(runInChild([&] {
              HeldDatabase db = openStandardDatabase(base);
              writeFaults::arm(2, Action::abort);  // after the shift, before the count
              erase.run(*db);
            }),
            writeFaults::kExitStatus);
  const std::string torn = readFile(base + ".idx");
  for (const Action action : {Action::fail, Action::partial, Action::abort, Action::tear}) {
    for (long k = 1; k <= 2; ++k) {
      SCOPED_TRACE("repair write " + std::to_string(k) + ", action " + std::to_string(static_cast<int>(action)));
      writeFile(base + ".idx", torn);
      if (action == Action::fail || action == Action::partial) {
        writeFaults::arm(k, action);
        OpenFailure why = OpenFailure::none;
        EXPECT_FALSE(openStandardDatabase(base, &why));
        writeFaults::disarm();
        EXPECT_EQ(why, OpenFailure::repairFailed);
      } else {
        ASSERT_EQ(runInChild([&] {
                    writeFaults::arm(k, action);
                    openStandardDatabase(base);
                  }),
                  writeFaults::kExitStatus);
      }
      HeldDatabase db = openStandardDatabase(base);
      ASSERT_TRUE(db);
      EXPECT_EQ(snapshotOf(*db), ref.after);
      const std::string repaired = readFile(base + ".idx");
      EXPECT_EQ(repaired, le32(static_cast<int32_t>(ref.after.size())) + torn.substr(4));
      EXPECT_EQ(repaired.size(), torn.size());
    }
  }
}

// Rule 14: what open makes of a journal left behind. A complete journal is
// rolled back whether the write it guards reached the file not at all, in
// part or whole; an incomplete or garbled one is dropped and the file left
// as it is. A roll-back that fails refuses the open and keeps the journal;
// one that is ended is made again by the next open.
TEST(CrashOrder, Rule14_JournalAtOpen) {
  const Operation& update = *std::find_if(operations().begin(), operations().end(), [](const Operation& op) {
    return op.name == "Rule12_InPlaceAcrossPagesInFull";
  });
  const Reference ref = referenceRun(update);
  TempDir dir;
  const std::string base = copyOf(update, dir);
  const std::string journalPath = rollbackJournalPath(base);
  const std::string before = readFile(base + ".dat");
  ASSERT_EQ(runInChild([&] {
              HeldDatabase db = openStandardDatabase(base, nullptr, SyncMode::full);
              writeFaults::arm(2, Action::abort);  // the journal is whole, the image not begun
              update.run(*db);
            }),
            writeFaults::kExitStatus);
  const std::string journal = readFile(journalPath);
  ASSERT_GT(journal.size(), 9000u);
  std::string after;
  {
    TempDir other;
    const std::string done = copyOf(update, other);
    ASSERT_TRUE(update.run(*openStandardDatabase(done, nullptr, SyncMode::full)));
    after = readFile(done + ".dat");
  }
  ASSERT_EQ(after.size(), before.size());
  const std::string torn = after.substr(0, after.size() / 2) + before.substr(after.size() / 2);
  std::string garbled = journal;
  garbled[garbled.size() / 2] ^= 1;
  const struct {
    const char* name;
    const std::string& data;
    std::string journal;
    const Snapshot& expected;
  } cases[] = {
      {"complete, the write not begun", before, journal, ref.before},
      {"complete, the write torn", torn, journal, ref.before},
      {"complete, the write whole", after, journal, ref.before},
      {"empty", after, "", ref.after},
      {"its header alone", after, journal.substr(0, 16), ref.after},
      {"all but its last byte", after, journal.substr(0, journal.size() - 1), ref.after},
      {"a byte flipped", after, garbled, ref.after},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    writeFile(base + ".dat", c.data);
    writeFile(journalPath, c.journal);
    HeldDatabase db = openStandardDatabase(base);
    ASSERT_TRUE(db);
    EXPECT_EQ(snapshotOf(*db), c.expected);
    EXPECT_EQ(checkConsistency(*db, base), "");
    EXPECT_FALSE(std::filesystem::exists(journalPath));
  }
  for (const Action action : {Action::fail, Action::partial, Action::abort, Action::tear}) {
    SCOPED_TRACE("roll-back write, action " + std::to_string(static_cast<int>(action)));
    writeFile(base + ".dat", torn);
    writeFile(journalPath, journal);
    if (action == Action::fail || action == Action::partial) {
      writeFaults::arm(1, action);
      OpenFailure why = OpenFailure::none;
      EXPECT_FALSE(openStandardDatabase(base, &why));
      writeFaults::disarm();
      EXPECT_EQ(why, OpenFailure::repairFailed);
      EXPECT_EQ(readFile(journalPath), journal);
    } else {
      ASSERT_EQ(runInChild([&] {
                  writeFaults::arm(1, action);
                  openStandardDatabase(base);
                }),
                writeFaults::kExitStatus);
    }
    HeldDatabase db = openStandardDatabase(base);
    ASSERT_TRUE(db);
    EXPECT_EQ(snapshotOf(*db), ref.before);
    EXPECT_EQ(readFile(base + ".dat"), before);
  }
}

// Rule 12: a journal only goes into an empty file. Two updates that change
// only the last byte of a long record write journals alike but for their
// ends; the second, torn at a page, must not leave the first one whole
// behind it, which would roll the acknowledged first update back.
TEST(CrashOrder, Rule12_ATornJournalNeverCompletesAnEarlierOne) {
  TempDir dir;
  const std::string base = dir.path("db");
  createStandardDatabase(base, 3, 9000);
  const auto changeLastByte = [](Database& db, char letter) {
    const int32_t at = db.getPos("k1");
    FieldValues now;
    if (at < 0 || !db.getRecord(at, now)) return false;
    Record r = toRecord(now);
    r[2].back() = letter;
    return db.updateRecord(at, values(r));
  };
  ASSERT_EQ(runInChild([&] {
              HeldDatabase db = openStandardDatabase(base);
              if (!db || !changeLastByte(*db, 'A')) _Exit(2);
              writeFaults::arm(1, Action::tear);  // the second update's journal
              changeLastByte(*db, 'B');
              _Exit(3);
            }),
            writeFaults::kExitStatus);
  HeldDatabase db = openStandardDatabase(base);
  ASSERT_TRUE(db);
  FieldValues now;
  ASSERT_TRUE(db->getRecord(db->getPos("k1"), now));
  EXPECT_EQ(toRecord(now)[2].back(), 'A');
}

// Rule 9: the modes by the names MERO_SYNC gives them; anything else is the default.
TEST(CrashOrder, Rule9_SyncModeNames) {
  const std::pair<const char*, SyncMode> names[] = {
      {"OFF", SyncMode::off},   {"off", SyncMode::off},     {"Full", SyncMode::full},
      {"FULL", SyncMode::full}, {"CLOSE", SyncMode::close}, {nullptr, SyncMode::close},
      {"", SyncMode::close},    {"fully", SyncMode::close}, {"of", SyncMode::close}};
  for (const auto& [name, mode] : names) EXPECT_EQ(syncModeNamed(name), mode) << (name ? name : "(unset)");
}

// Rules 7 and 24: a schema write that fails is reported and can be made
// again, and define is refused once the index lists records. Whether nothing
// or part of the block reached the file (a full disk), the failed define
// takes it back: a schema file it created goes again, one that was there
// (empty, from an open) is cut back to what it held.
TEST(CrashOrder, Rule7_Define) {
  TempDir dir;
  const std::string base = dir.path("defined");
  DbArray<uint8_t> flags(1, 1);
  DbArray<DbString> names(1, DbString("name"));
  for (const Action action : {Action::fail, Action::partial}) {
    writeFaults::arm(1, action);
    EXPECT_FALSE(defineSchema(base, flags, names));
    writeFaults::disarm();
    EXPECT_FALSE(std::filesystem::exists(base + ".str"));
    writeFile(base + ".str", "");
    writeFaults::arm(1, action);
    EXPECT_FALSE(defineSchema(base, flags, names));
    writeFaults::disarm();
    EXPECT_EQ(readFile(base + ".str"), "");
    std::filesystem::remove(base + ".str");
  }
  ASSERT_TRUE(defineSchema(base, flags, names));
  HeldDatabase db = held(Database::open(base, "", false));
  ASSERT_EQ(db->write(values({"one"})), WriteStatus::appended);
  const std::string schema = readFile(base + ".str");
  EXPECT_FALSE(defineSchema(base, flags, names));
  EXPECT_EQ(readFile(base + ".str"), schema);
}

}  // namespace
}  // namespace mero::test
