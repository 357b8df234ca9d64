// The engine end to end on real files: the bytes it writes, what it reads
// back, and how it treats damaged files, failed writes and stale positions.

#include <gtest/gtest.h>

#include "engine/database.h"
#include "engine/record_format.h"
#include "platform/write_faults.h"
#include "test_support.h"

namespace mero {
namespace {

using test::bytes;
using test::findAll;
using test::le32;
using test::values;
using Strings = std::vector<std::string>;

class DatabaseTest : public ::testing::Test {
 protected:
  std::string base() const { return dir_.path("db"); }
  Strings read(Database& db, int32_t position) {
    FieldValues out;
    if (!db.getRecord(position, out)) return {"<none>"};
    return test::toStrings(out);
  }
  std::string files() const {
    return test::readFile(base() + ".str") + "|" + test::readFile(base() + ".dat") + "|" +
           test::readFile(base() + ".idx");
  }

  test::TempDir dir_;
};

TEST_F(DatabaseTest, NewDatabaseCreatesEmptyFilesBesideTheSchema) {
  auto db = test::createDatabase(base(), {true, false});
  ASSERT_TRUE(db);
  EXPECT_EQ(test::readFile(base() + ".dat"), "");
  EXPECT_EQ(test::readFile(base() + ".idx"), "");
  EXPECT_EQ(db->numRecs(), 0);
  EXPECT_EQ(db->pool().poolCapacity(), 1u << 20);
  EXPECT_EQ(db->pool().poolUsed(), 0u);
  EXPECT_TRUE(findAll(*db, {}).empty());
}

TEST_F(DatabaseTest, DataFileBytesAreTheEncipheredImage) {
  // Key "ab" is applied reversed: 'b' (0x62) to byte 0, 'a' (0x61) to byte 1.
  auto db = test::createDatabase(base(), {true, false}, "ab");
  ASSERT_EQ(db->write(values({"AB", "\xC3\xA9"})), WriteStatus::appended);
  EXPECT_EQ(test::readFile(base() + ".dat"),
            le32(4 + 6 + 6) + le32(2) + bytes({0x41 + 0x62, 0x42 + 0x61}) + le32(2) +
                bytes({(0xC3 + 0x62) & 0xFF, (0xA9 + 0x61) & 0xFF}));
  EXPECT_EQ(test::indexEntries(base()), (std::vector<int32_t>{1, 0}));

  // 0x9F + 0x61 wraps to 0: a stored byte of zero reads back unchanged.
  ASSERT_EQ(db->write(values({"\xC2\x9F", "x"})), WriteStatus::appended);
  const std::string data = test::readFile(base() + ".dat");
  EXPECT_EQ(data[16 + 9], '\0');
  EXPECT_EQ(read(*db, 16), (Strings{"\xC2\x9F", "x"}));
  EXPECT_EQ(test::indexEntries(base()), (std::vector<int32_t>{2, 0, 16}));
}

TEST_F(DatabaseTest, ValuesSurviveCloseAndReopen) {
  {
    auto db = test::createDatabase(base(), {true, false, true}, "secret");
    ASSERT_EQ(db->write(values({"k1", "Zürich", "\xED\xA0\xBD\xED\xB8\x80"})), WriteStatus::appended);
    ASSERT_EQ(db->write(values({"k2", "", "C0 80 is \xC0\x80"})), WriteStatus::appended);
    ASSERT_EQ(db->write(values({"", "", ""})), WriteStatus::appended);
  }
  auto db = Database::open(base(), "secret", true);
  ASSERT_TRUE(db);
  EXPECT_EQ(db->numRecs(), 3);
  EXPECT_EQ(db->records().positions(), (std::vector<int32_t>{0, 31, 60}));
  EXPECT_EQ(read(*db, 31), (Strings{"k2", "", "C0 80 is \xC0\x80"}));
  EXPECT_EQ(read(*db, 60), (Strings{"", "", ""}));
  EXPECT_EQ(db->getPos("k2"), 31);
  EXPECT_EQ(findAll(*db, {"", "zÜrich"}), (std::vector<int32_t>{}));  // only ASCII folds
  EXPECT_EQ(findAll(*db, {"", "zürICH"}), (std::vector<int32_t>{0}));
  // After reopening, the pool holds exactly the live values once.
  EXPECT_EQ(db->pool().poolUsed(), 2u + 6 + 2 + 11 + 0 + 0);
}

TEST_F(DatabaseTest, WrongKeyOpensAndReadsOtherBytes) {
  { ASSERT_EQ(test::createDatabase(base(), {true})->write(values({"value"})), WriteStatus::appended); }
  auto db = Database::open(base(), "other", true);
  ASSERT_TRUE(db);
  EXPECT_EQ(db->numRecs(), 1);
  const Strings got = read(*db, 0);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].size(), 5u);
  EXPECT_NE(got[0], "value");
}

TEST_F(DatabaseTest, EmptyKeyStoresValuesAsTheyAre) {
  auto db = test::createDatabase(base(), {false}, "");
  ASSERT_TRUE(db);
  ASSERT_EQ(db->write(values({"plain"})), WriteStatus::appended);
  EXPECT_EQ(test::readFile(base() + ".dat"), le32(13) + le32(5) + "plain");
}

TEST_F(DatabaseTest, AppendStatuses) {
  auto db = test::createDatabase(base(), {true, false});
  EXPECT_EQ(db->write(values({"only one"})), WriteStatus::wrongFieldCount);
  EXPECT_EQ(db->write(values({"a", "b", "c"})), WriteStatus::wrongFieldCount);
  EXPECT_EQ(test::readFile(base() + ".dat"), "");
  ASSERT_EQ(db->write(values({"key", "1"})), WriteStatus::appended);
  const std::string before = files();
  EXPECT_EQ(db->write(values({"key", "2"})), WriteStatus::duplicateKey);
  EXPECT_EQ(files(), before);
  EXPECT_EQ(db->numRecs(), 1);
  EXPECT_EQ(db->write(values({"KEY", "3"})), WriteStatus::appended);  // keys are case-sensitive
}

TEST_F(DatabaseTest, KeyIndexOffAcceptsEqualFirstFieldsAndFindsNoKeys) {
  auto db = test::createDatabase(base(), {false, false}, "k", false);
  ASSERT_EQ(db->write(values({"same", "1"})), WriteStatus::appended);
  ASSERT_EQ(db->write(values({"same", "2"})), WriteStatus::appended);
  EXPECT_EQ(db->getPos("same"), -1);
  FieldValues out;
  EXPECT_FALSE(db->getRecordByKey("same", out));
  db.reset();
  // Reopened with the key index, the lower record number keeps the key.
  db = Database::open(base(), "k", true);
  EXPECT_EQ(db->getPos("same"), 0);
  ASSERT_TRUE(db->getRecordByKey("same", out));
  EXPECT_EQ(out[1], "1");
}

TEST_F(DatabaseTest, NoFieldsWithKeyIndexStillAppends) {
  auto db = test::createDatabase(base(), {});
  ASSERT_TRUE(db);
  EXPECT_EQ(db->fieldCount(), 0);
  EXPECT_EQ(db->write(values({})), WriteStatus::appended);
  EXPECT_EQ(db->write(values({})), WriteStatus::appended);
  EXPECT_EQ(db->numRecs(), 2);
  EXPECT_EQ(test::readFile(base() + ".dat"), le32(4) + le32(4));
  EXPECT_EQ(read(*db, 4), Strings{});
}

TEST_F(DatabaseTest, FindMatchesCaseInsensitivelyByWholeValueOrSubstring) {
  for (const bool indexed : {true, false}) {
    SCOPED_TRACE(indexed ? "indexed" : "not indexed");
    test::TempDir dir;
    auto db = test::createDatabase(dir.path("db"), {false, indexed});
    std::vector<int32_t> at;
    for (const char* v : {"ABC", "abc", "aBc", "abcd", "xabc", "b", "xxB", "ac", "\xC3\xA9", "\xC3\x89"}) {
      at.push_back(static_cast<int32_t>(db->dataFileSize()));
      ASSERT_EQ(db->write(values({std::to_string(at.size()), v})), WriteStatus::appended);
    }
    EXPECT_EQ(findAll(*db, {"", "abc"}), (std::vector<int32_t>{at[0], at[1], at[2]}));
    EXPECT_EQ(findAll(*db, {"", "b"}, true),
              (std::vector<int32_t>{at[0], at[1], at[2], at[3], at[4], at[5], at[6]}));
    EXPECT_EQ(findAll(*db, {"", "\xC3\xA9"}), (std::vector<int32_t>{at[8]}));  // é is not É
    EXPECT_TRUE(findAll(*db, {"", "abcde"}, true).empty());
    EXPECT_EQ(findAll(*db, {"", ""}).size(), at.size());
    EXPECT_EQ(findAll(*db, {}).size(), at.size());
    // A non-empty term beyond the last field names no field: nothing matches.
    EXPECT_TRUE(findAll(*db, {"", "", "abc"}).empty());
    EXPECT_EQ(findAll(*db, {"", "", ""}).size(), at.size());
    EXPECT_TRUE(db->find({1}, values({"a", "b"})).empty());  // lengths differ
  }
}

TEST_F(DatabaseTest, ConjunctionGivesTheSameRecordsWhicheverFieldIsIndexed) {
  std::vector<std::vector<int32_t>> results;
  for (const auto& flags : {std::pair{true, false}, std::pair{false, true}, std::pair{true, true}}) {
    test::TempDir dir;
    auto db = test::createDatabase(dir.path("db"), {false, flags.first, flags.second});
    int n = 0;
    for (const char* city : {"London", "Paris", "london", "Berlin"})
      for (const char* job : {"Engineer", "Teacher", "engineering lead"})
        ASSERT_EQ(db->write(values({std::to_string(n++), city, job})), WriteStatus::appended);
    results.push_back(db->find({0, 0, 1}, values({"", "LONDON", "engineer"})));
  }
  ASSERT_EQ(results[0].size(), 4u);
  EXPECT_EQ(results[0], results[1]);
  EXPECT_EQ(results[0], results[2]);
}

TEST_F(DatabaseTest, UpdateInPlaceKeepsPositionAndIndexFile) {
  auto db = test::createDatabase(base(), {true, false});
  ASSERT_EQ(db->write(values({"k", "long value"})), WriteStatus::appended);
  ASSERT_EQ(db->write(values({"m", "other"})), WriteStatus::appended);
  const std::string index = test::readFile(base() + ".idx");
  ASSERT_TRUE(db->updateRecord(0, values({"k", "LONG VALUE"})));
  ASSERT_TRUE(db->updateRecord(0, values({"k", "short"})));
  EXPECT_EQ(test::readFile(base() + ".idx"), index);
  EXPECT_EQ(read(*db, 0), (Strings{"k", "short"}));
  EXPECT_EQ(db->getPos("k"), 0);
  // The stored length is now shorter, so going back to the old length moves.
  const int64_t end = db->dataFileSize();
  ASSERT_TRUE(db->updateRecord(0, values({"k", "long value"})));
  EXPECT_EQ(db->getPos("k"), end);
}

TEST_F(DatabaseTest, MovedUpdateKeepsRecordOrderAndLeavesTheOldImage) {
  auto db = test::createDatabase(base(), {true, true});
  for (const char* k : {"a", "b", "c"}) ASSERT_EQ(db->write(values({k, "word"})), WriteStatus::appended);
  const int32_t end = static_cast<int32_t>(db->dataFileSize());
  ASSERT_TRUE(db->updateRecord(17, values({"b", "a much longer word"})));
  EXPECT_EQ(test::indexEntries(base()), (std::vector<int32_t>{3, 0, end, 34}));
  EXPECT_EQ(findAll(*db, {"", "word"}, true), (std::vector<int32_t>{0, end, 34}));
  EXPECT_EQ(findAll(*db, {"", "longer"}, true), (std::vector<int32_t>{end}));
  EXPECT_EQ(read(*db, 17), (Strings{"b", "word"}));  // the old image still reads
  EXPECT_EQ(db->getPos("b"), end);
  EXPECT_FALSE(db->updateRecord(17, values({"b", "x"})));  // no longer live
  EXPECT_FALSE(db->deleteRecord(17));
  EXPECT_EQ(db->pool().poolUsed(), 3u + 12 + 18);
}

TEST_F(DatabaseTest, UpdateRefusesPositionsThatAreNotLive) {
  auto db = test::createDatabase(base(), {true});
  ASSERT_EQ(db->write(values({"one"})), WriteStatus::appended);
  ASSERT_EQ(db->write(values({"two"})), WriteStatus::appended);
  const std::string before = files();
  for (const int32_t position : {1, 5, 100, 1 << 30}) EXPECT_FALSE(db->updateRecord(position, values({"x"})));
  EXPECT_FALSE(db->updateRecord(0, values({"x", "y"})));
  EXPECT_EQ(files(), before);
  EXPECT_EQ(read(*db, 0), Strings{"one"});
}

TEST_F(DatabaseTest, KeyIndexKeepsAnotherRecordsKeyOnUpdateAndDelete) {
  auto db = test::createDatabase(base(), {false, false});
  ASSERT_EQ(db->write(values({"alpha", "1"})), WriteStatus::appended);  // at 0
  ASSERT_EQ(db->write(values({"betas", "2"})), WriteStatus::appended);  // at 18
  // beta takes alpha's first field: alpha keeps the key, beta loses its own.
  ASSERT_TRUE(db->updateRecord(18, values({"alpha", "3"})));
  EXPECT_EQ(db->getPos("alpha"), 0);
  EXPECT_EQ(db->getPos("betas"), -1);
  // Deleting the record that holds no entry must not drop alpha's.
  ASSERT_TRUE(db->deleteRecord(18));
  EXPECT_EQ(db->getPos("alpha"), 0);
  ASSERT_TRUE(db->updateRecord(0, values({"gamma", "1"})));
  EXPECT_EQ(db->getPos("alpha"), -1);
  EXPECT_EQ(db->getPos("gamma"), 0);
}

TEST_F(DatabaseTest, DeleteShiftsTheIndexAndLeavesTheDataFile) {
  auto db = test::createDatabase(base(), {true, false});
  std::vector<int32_t> at;
  for (int i = 0; i < 5; ++i) {
    at.push_back(static_cast<int32_t>(db->dataFileSize()));
    ASSERT_EQ(db->write(values({"k" + std::to_string(i), "v"})), WriteStatus::appended);
  }
  const std::string data = test::readFile(base() + ".dat");
  ASSERT_TRUE(db->deleteRecord(at[1]));
  EXPECT_EQ(test::indexEntries(base()), (std::vector<int32_t>{4, at[0], at[2], at[3], at[4], at[4]}));
  EXPECT_EQ(test::readFile(base() + ".dat"), data);
  EXPECT_FALSE(db->deleteRecord(at[1]));
  EXPECT_EQ(db->getPos("k1"), -1);
  EXPECT_EQ(findAll(*db, {"k"}, true), (std::vector<int32_t>{at[0], at[2], at[3], at[4]}));
  ASSERT_TRUE(db->deleteRecord(at[4]));  // the last: only the count changes
  EXPECT_EQ(test::indexEntries(base()), (std::vector<int32_t>{3, at[0], at[2], at[3], at[4], at[4]}));
  db.reset();
  db = Database::open(base(), "key", true);
  EXPECT_EQ(db->records().positions(), (std::vector<int32_t>{at[0], at[2], at[3]}));
}

TEST_F(DatabaseTest, GetRecordAtPositionsThatHoldNoRecord) {
  auto db = test::createDatabase(base(), {false, false});
  ASSERT_EQ(db->write(values({"ab", "cd"})), WriteStatus::appended);  // 16 bytes
  for (const int32_t position : {-1, 16, 17, 1000, 1 << 30, 0x7FFFFFFF}) {
    FieldValues out;
    EXPECT_FALSE(db->getRecord(position, out)) << position;
  }
  // Inside the record the bytes rarely form an image; if they do, they read
  // as values of the right count.
  for (int32_t position = 1; position < 16; ++position) {
    FieldValues out;
    if (db->getRecord(position, out)) {
      EXPECT_EQ(out.size(), 2);
    }
  }
  EXPECT_EQ(read(*db, 0), (Strings{"ab", "cd"}));  // still usable afterwards
}

TEST_F(DatabaseTest, DamagedFilesAreRefusedAndLeftUntouched) {
  {
    auto db = test::createDatabase(base(), {true, false});
    ASSERT_EQ(db->write(values({"a", "b"})), WriteStatus::appended);
    ASSERT_EQ(db->write(values({"c", "d"})), WriteStatus::appended);
  }
  const std::string good[3] = {test::readFile(base() + ".str"), test::readFile(base() + ".dat"),
                               test::readFile(base() + ".idx")};
  const char* const ext[3] = {".str", ".dat", ".idx"};
  const std::vector<std::pair<int, std::string>> damages = {
      {0, good[0].substr(0, 7)},                       // truncated schema
      {0, le32(1000) + good[0].substr(4)},             // impossible field count
      {1, good[1].substr(0, 20)},                      // data file cut short
      {1, std::string(good[1].size(), '\xFF')},        // garbage records
      {2, le32(9) + good[2].substr(4)},                // count beyond the entries
      {2, le32(2) + le32(0) + le32(3)},                // entry inside a record
      {2, le32(2) + le32(0) + le32(1 << 30)},          // entry far past the end
      {2, le32(3) + le32(0) + le32(14) + le32(0)},     // two entries, one record
  };
  for (const auto& [file, content] : damages) {
    for (int f = 0; f < 3; ++f) test::writeFile(base() + ext[f], good[f]);
    test::writeFile(base() + ext[file], content);
    const std::string before = files();
    EXPECT_FALSE(Database::open(base(), "key", true)) << ext[file] << " " << content.size();
    EXPECT_EQ(files(), before);
  }
}

TEST_F(DatabaseTest, OpenCompletesATornDelete) {
  {
    auto db = test::createDatabase(base(), {true});
    for (const char* k : {"a", "b", "c", "d"}) ASSERT_EQ(db->write(values({k})), WriteStatus::appended);
  }
  // Entries shifted for deleting "b" (at 9), count not yet written.
  test::writeFile(base() + ".idx", le32(4) + le32(0) + le32(18) + le32(27) + le32(27));
  auto db = Database::open(base(), "key", true);
  ASSERT_TRUE(db);
  EXPECT_EQ(db->records().positions(), (std::vector<int32_t>{0, 18, 27}));
  EXPECT_EQ(test::indexEntries(base()), (std::vector<int32_t>{3, 0, 18, 27, 27}));
  EXPECT_EQ(db->getPos("b"), -1);
}

// Every write of every operation, made to fail: the operation reports it,
// and memory and files still agree on the state before the call.
TEST_F(DatabaseTest, FailedWritesAreReportedAndChangeNothing) {
  struct Operation {
    const char* name;
    bool (*run)(Database&);
  };
  const Operation operations[] = {
      {"append", [](Database& db) { return db.write(values({"new", "value"})) == WriteStatus::appended; }},
      {"update in place", [](Database& db) { return db.updateRecord(0, values({"a", "B"})); }},
      {"update moved", [](Database& db) { return db.updateRecord(0, values({"a", "much longer"})); }},
      {"delete", [](Database& db) { return db.deleteRecord(0); }},
  };
  for (const Operation& op : operations) {
    for (long k = 1; k <= 3; ++k) {
      SCOPED_TRACE(std::string(op.name) + " write " + std::to_string(k));
      test::TempDir dir;
      const std::string b = dir.path("db");
      auto db = test::createDatabase(b, {true, false});
      ASSERT_EQ(db->write(values({"a", "b"})), WriteStatus::appended);
      ASSERT_EQ(db->write(values({"c", "d"})), WriteStatus::appended);
      writeFaults::arm(k, writeFaults::Action::fail);
      const bool done = op.run(*db);
      const long writes = writeFaults::writesSoFar();
      writeFaults::disarm();
      if (writes < k) {
        EXPECT_TRUE(done);  // the operation needs fewer writes
        continue;
      }
      EXPECT_FALSE(done);
      EXPECT_EQ(db->numRecs(), 2);
      EXPECT_EQ(db->records().positions(), (std::vector<int32_t>{0, 14}));
      EXPECT_EQ(findAll(*db, {"a"}), (std::vector<int32_t>{0}));
      EXPECT_EQ(read(*db, 0), (Strings{"a", "b"}));
      EXPECT_EQ(db->getPos("a"), 0);
      db.reset();
      db = Database::open(b, "key", true);
      ASSERT_TRUE(db);
      EXPECT_EQ(db->records().positions(), (std::vector<int32_t>{0, 14}));
      EXPECT_EQ(read(*db, 0), (Strings{"a", "b"}));
      // And the database goes on working.
      EXPECT_EQ(db->write(values({"e", "f"})), WriteStatus::appended);
      EXPECT_EQ(db->numRecs(), 3);
    }
  }
}

TEST_F(DatabaseTest, AppendRefusesRecordsPastTheLargestPosition) {
  auto db = test::createDatabase(base(), {false});
  // A sparse data file just below 2^31 bytes: the next image cannot fit.
  ASSERT_EQ(db->write(values({"x"})), WriteStatus::appended);
  db.reset();
  {
    File data;
    ASSERT_TRUE(data.openReadWrite(base() + ".dat"));
    ASSERT_TRUE(data.writeAt(kMaxDataFileSize - 8, "\0\0\0\0\0\0\0\0", 8));
  }
  db = Database::open(base(), "key", true);
  ASSERT_TRUE(db);
  EXPECT_EQ(db->write(values({"y"})), WriteStatus::notStored);
  EXPECT_EQ(db->numRecs(), 1);
  EXPECT_FALSE(db->updateRecord(0, values({"longer than before"})));
  EXPECT_TRUE(db->updateRecord(0, values({"z"})));
}

}  // namespace
}  // namespace mero
