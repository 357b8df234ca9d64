// The in-memory structures where they have rules of their own; the model
// test and the consistency check cover how they serve the operations.

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <unordered_map>

#include "engine/key_index.h"
#include "engine/record_table.h"
#include "engine/search_text.h"
#include "engine/value_hash_index.h"
#include "test_support.h"

namespace mero {
namespace {

TEST(RecordTable, RecordNumbersFollowAppendsMovesAndDeletes) {
  RecordTable table;
  table.clear();
  std::vector<int32_t> model;  // positions by record number
  std::mt19937 rng(11);
  int32_t end = 0;
  for (int step = 0; step < 20000; ++step) {
    const unsigned op = rng() % 4;
    if (op <= 1 || model.empty()) {
      table.append(end);
      model.push_back(end);
      end += 10;
    } else {
      const size_t r = rng() % model.size();
      uint32_t slot = 0;
      ASSERT_TRUE(table.slotOf(model[r], slot));
      ASSERT_EQ(table.recordNumberOf(slot), static_cast<int32_t>(r));
      if (op == 2) {
        table.move(slot, end);
        model[r] = end;
        end += 10;
      } else {
        table.remove(slot);
        model.erase(model.begin() + static_cast<long>(r));
      }
    }
    ASSERT_EQ(table.positionList(), model) << step;
    uint32_t ignored = 0;
    ASSERT_FALSE(table.slotOf(end + 5, ignored));  // never a record's start
  }
  // Positions of deleted and moved records find nothing.
  for (int32_t p = 0; p < end; p += 10) {
    uint32_t slot = 0;
    const bool live = std::find(model.begin(), model.end(), p) != model.end();
    ASSERT_EQ(table.slotOf(p, slot), live) << p;
    if (live) {
      ASSERT_EQ(table.positionOfSlot(slot), p);
    }
  }
  // Ascending slots visit the live records in record order.
  std::vector<int32_t> bySlot;
  for (uint32_t s = 0; s < table.slotCount(); ++s)
    if (table.isLive(s)) bySlot.push_back(table.positionOfSlot(s));
  EXPECT_EQ(bySlot, model);
  // Deleting down to nothing joins the chunks of positions as they shrink.
  while (!model.empty()) {
    const size_t r = rng() % model.size();
    uint32_t slot = 0;
    ASSERT_TRUE(table.slotOf(model[r], slot));
    table.remove(slot);
    model.erase(model.begin() + static_cast<long>(r));
    ASSERT_EQ(table.positionList(), model);
    if (!model.empty()) {
      ASSERT_EQ(table.lastPosition(), model.back());
    }
  }
  table.append(end);
  EXPECT_EQ(table.positionList(), std::vector<int32_t>{end});
}

TEST(KeyIndex, OrdersUnsignedInsertsNeverOverwriteAndRemovesOnlyItsOwnEntry) {
  KeyIndex keys;
  keys.insertKey("abc", 0);
  keys.insertKey("abc", 50);
  int32_t position = -1;
  ASSERT_TRUE(keys.lookupKey("abc", position));
  EXPECT_EQ(position, 0);
  EXPECT_FALSE(keys.lookupKey("ABC", position));
  keys.removeKey("abc", 50);  // points elsewhere: kept
  EXPECT_TRUE(keys.lookupKey("abc", position));
  keys.removeKey("abc", 0);
  EXPECT_FALSE(keys.lookupKey("abc", position));
  EXPECT_TRUE(std::string("a") < std::string("ab") && std::string("ab") < std::string("b"));
  EXPECT_TRUE(std::string("z") < std::string("\x80"));  // the map's order is unsigned
}

// Both searches against a plain one, at every offset, with needles whose
// bytes include zero (never from Java, but stored values read with a wrong
// key can hold one).
TEST(FindBytes, AgreesWithAPlainSearchPaddedOrNot) {
  std::mt19937 rng(5);
  for (int round = 0; round < 6000; ++round) {
    std::string hay(rng() % 70, 'a');
    for (char& c : hay) c = static_cast<char>('a' + rng() % 3);
    std::string needle(1 + rng() % 6, 'a');
    for (char& c : needle) c = static_cast<char>(rng() % 8 == 0 ? 0 : 'a' + rng() % 3);
    const size_t expected = std::string_view(hay).find(needle);
    const char* got = findBytes(hay.data(), hay.size(), needle);
    ASSERT_EQ(got == nullptr ? std::string_view::npos : static_cast<size_t>(got - hay.data()), expected);
    if (needle.find('\0') != std::string::npos) continue;  // the padded search's precondition
    const std::string padded = hay + std::string(kSearchPadding, '\0');
    got = findBytesPadded(padded.data(), hay.size(), needle);
    ASSERT_EQ(got == nullptr ? std::string_view::npos : static_cast<size_t>(got - padded.data()), expected);
  }
}

std::vector<uint32_t> containing(const SearchText& text, std::string_view needle) {
  std::vector<uint32_t> found;
  text.forEachContaining(needle, [&](uint32_t slot) { found.push_back(slot); });
  return found;
}

TEST(SearchText, FindsEachValueOnceAndNeverAcrossOrInDeadBytes) {
  SearchText text;
  text.add(0, "abc");
  text.add(1, "cab");
  text.add(2, "xabcabc");
  EXPECT_EQ(containing(text, "AB"), (std::vector<uint32_t>{0, 1, 2}));
  EXPECT_TRUE(containing(text, "CC").empty());  // "abc" + "cab" touch
  text.replace(0, "zz");                        // shorter: in place, the old tail is cleared
  text.replace(1, "longer ab");                 // longer: moves to the end
  text.remove(2);
  EXPECT_EQ(containing(text, "AB"), (std::vector<uint32_t>{1}));
  EXPECT_EQ(text.valueOf(0), "ZZ");
  // Needles with zero bytes match dead bytes and the gaps between values;
  // the scan passes over such hits, finds only values that hold the bytes,
  // and ends.
  text.add(3, std::string("q\0r", 3));
  EXPECT_TRUE(containing(text, std::string(2, '\0')).empty());
  EXPECT_EQ(containing(text, std::string("ZZ\0", 3)), std::vector<uint32_t>{});
  EXPECT_EQ(containing(text, std::string("\0R", 2)), std::vector<uint32_t>{3});
}

// Replaced and removed values are reclaimed: the text stays
// within a small factor of the live values, however often one value grows
// and shrinks.
TEST(SearchStructures, MemoryFollowsTheLiveValues) {
  test::TempDir dir;
  const std::string base = dir.path("db");
  auto db = test::createDatabase(base, {true, false});
  const std::string big(100000, 'v');
  ASSERT_EQ(db->write(test::values({"", big})), WriteStatus::appended);
  for (int i = 0; i < 100; ++i)
    ASSERT_EQ(db->write(test::values({"small" + std::to_string(i), "x"})), WriteStatus::appended);
  for (int toggle = 0; toggle < 400; ++toggle) {
    const int32_t position = db->records().positionAt(0);
    const bool grow = toggle % 2 == 0;
    ASSERT_TRUE(db->updateRecord(position, test::values({grow ? big : "", grow ? "" : big})));
    if (toggle % 50 == 49) {
      ASSERT_TRUE(db->deleteRecord(db->records().positionAt(1)));
    }
  }
  const uint64_t live = db->searchText(0).liveBytes();
  EXPECT_LE(db->searchText(0).textBytes(), 2 * live + 64 * 1024 + 1);
  EXPECT_EQ(test::checkConsistency(*db, base), "");
}

// Values that die free their numbers in the value hash; once most numbers
// are free they are renumbered away, and every live value still leads to
// exactly its records.
TEST(SearchStructures, ValueHashFollowsTheLiveValues) {
  const test::Deadline deadline(30, "ValueHashFollowsTheLiveValues (renumbering the value hash)");
  test::TempDir dir;
  const std::string base = dir.path("db");
  auto db = test::createDatabase(base, {true});
  const std::vector<uint8_t> whole{0};
  EXPECT_TRUE(db->find(whole, test::values({"v0"})).empty());  // builds the index, which then follows every change
  for (int i = 0; i < 12000; ++i) ASSERT_EQ(db->write(test::values({"v" + std::to_string(i)})), WriteStatus::appended);
  for (int i = 0; i < 11000; ++i) ASSERT_TRUE(db->updateRecord(db->records().positionAt(i), test::values({"shared"})));
  EXPECT_EQ(db->valueHashes(0).distinctValues(), 1001u);
  EXPECT_EQ(db->find(whole, test::values({"SHARED"})).size(), 11000u);
  EXPECT_EQ(db->find(whole, test::values({"v11999"})), std::vector<int32_t>{db->records().positionAt(11999)});
  EXPECT_EQ(test::checkConsistency(*db, base), "");
}

// An open leaves the value hash unbuilt; the first whole-value find builds
// it from the search text as the changes since the open left it (moved,
// deleted, appended records and slots reclaimed), and it follows from then on.
TEST(SearchStructures, ValueHashIsBuiltAtTheFirstWholeValueFind) {
  test::TempDir dir;
  const std::string base = dir.path("db");
  auto db = test::createDatabase(base, {false, true});
  for (int i = 0; i < 12000; ++i) {
    ASSERT_EQ(db->write(test::values({"k" + std::to_string(i), "v" + std::to_string(i % 3000)})),
              WriteStatus::appended);
  }
  db.reset();
  db = test::held(Database::open(base, "key", true));
  ASSERT_TRUE(db);
  EXPECT_FALSE(db->valueHashes(1).built());
  for (int i = 11999; i >= 3000; --i) {
    ASSERT_TRUE(db->deleteRecord(db->records().positionAt(i)));
  }
  EXPECT_LT(db->records().slotCount(), 12000u) << "slots were reclaimed";
  ASSERT_TRUE(db->updateRecord(db->records().positionAt(5), test::values({"k5", "moved, and longer than before"})));
  ASSERT_EQ(db->write(test::values({"k-new", "v7"})), WriteStatus::appended);
  const std::vector<uint8_t> whole{0, 0};
  const std::vector<uint8_t> partial{0, 1};
  EXPECT_EQ(db->find(partial, test::values({"", "moved"})).size(), 1u);
  EXPECT_FALSE(db->valueHashes(1).built()) << "a substring search needs no value hash";
  EXPECT_EQ(db->find(whole, test::values({"", "V7"})),
            (std::vector<int32_t>{db->records().positionAt(7), db->records().lastPosition()}));
  EXPECT_TRUE(db->valueHashes(1).built());
  EXPECT_TRUE(db->find(whole, test::values({"", "v5"})).empty());
  ASSERT_TRUE(db->deleteRecord(db->records().positionAt(7)));
  EXPECT_EQ(db->find(whole, test::values({"", "v7"})), std::vector<int32_t>{db->records().lastPosition()});
  EXPECT_EQ(test::checkConsistency(*db, base), "");
}

// Slots of deleted records are reclaimed: a database that keeps appending
// and deleting (keeping one record in twenty, so live slots are renumbered
// past dead ones; moving some by updates; sharing values) keeps its
// per-record tables near the live size, and every structure follows the
// renumbering.
TEST(SearchStructures, SlotsOfDeletedRecordsAreReclaimed) {
  test::TempDir dir;
  const std::string base = dir.path("db");
  auto db = test::createDatabase(base, {true, true, false});
  const auto write = [&](const std::string& key, const std::string& value) {
    EXPECT_EQ(db->write(test::values({key, value, "n"})), WriteStatus::appended);
    return db->records().lastPosition();
  };
  for (int i = 0; i < 300; ++i) write("live" + std::to_string(i), "city" + std::to_string(i % 7));
  int32_t most = 0;
  for (int round = 0; round < 12; ++round) {
    const std::string r = std::to_string(round);
    ASSERT_TRUE(db->updateRecord(db->records().positionAt(round),
                                 test::values({"live" + std::to_string(round), "moved " + r, "a longer note"})));
    std::vector<int32_t> written;
    for (int j = 0; j < 2000; ++j)
      written.push_back(write("t" + r + "-" + std::to_string(j), j % 3 ? "shared" : "v" + std::to_string(j)));
    for (int j = 1999; j >= 0; --j)
      if (j % 20 != 7) {
        ASSERT_TRUE(db->deleteRecord(written[static_cast<size_t>(j)]));
      }
    most = std::max<int32_t>(most, static_cast<int32_t>(db->records().slotCount()));
  }
  EXPECT_EQ(db->numRecs(), 300 + 12 * 100);
  EXPECT_LT(most, 12000) << "slots of deleted records were kept";  // 24,300 were appended
  EXPECT_EQ(test::checkConsistency(*db, base), "");
  const test::Snapshot before = test::snapshotOf(*db);
  db.reset();
  db = test::held(Database::open(base, "key", true));
  ASSERT_TRUE(db);
  EXPECT_EQ(test::snapshotOf(*db), before);
}

// Two strings, prefix + a number, whose hashes agree: a birthday search over
// the 32 bits a table keeps (some 80,000 tries under the tests' fixed key).
std::pair<std::string, std::string> sameHash(uint32_t (*hashOf)(std::string_view), const std::string& prefix) {
  std::unordered_map<uint32_t, uint32_t> seen;
  for (uint32_t i = 0;; ++i) {
    const std::string candidate = prefix + std::to_string(i);
    const auto [it, fresh] = seen.emplace(hashOf(candidate), i);
    if (!fresh) return {prefix + std::to_string(it->second), candidate};
  }
}

// Keys, and whole values of an indexed field, that share a hash are told
// apart by their bytes: the second is neither found through the first nor
// refused as its duplicate, also after the tables are loaded at open.
TEST(SearchStructures, SharedHashesNeverConfuseKeysOrValues) {
  const auto [keyA, keyB] = sameHash(&KeyIndex::hashOf, "key");
  const auto [valueA, valueB] = sameHash(&ValueHashIndex::hashOf, "V");  // stored upper-cased: as they are
  test::TempDir dir;
  const std::string base = dir.path("db");
  auto db = test::createDatabase(base, {false, true});
  ASSERT_EQ(db->write(test::values({keyA, valueA})), WriteStatus::appended);
  const int32_t a = db->getPos(keyA);
  const std::vector<uint8_t> whole{0, 0};
  EXPECT_EQ(db->getPos(keyB), -1);
  EXPECT_EQ(db->find(whole, test::values({"", valueB})), std::vector<int32_t>{});
  ASSERT_EQ(db->write(test::values({keyB, valueB})), WriteStatus::appended);
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round == 0 ? "as written" : "reopened");
    const int32_t b = db->getPos(keyB);
    EXPECT_NE(b, a);
    EXPECT_EQ(db->getPos(keyA), a);
    EXPECT_EQ(db->find(whole, test::values({"", valueA})), std::vector<int32_t>{a});
    EXPECT_EQ(db->find(whole, test::values({"", valueB})), std::vector<int32_t>{b});
    db.reset();
    db = test::held(Database::open(base, "key", true));
    ASSERT_TRUE(db);
  }
}

// With every hash cut to one bit, all but a few keys and values find no
// place within the probe limit and go to the ordered overflow maps; every
// answer stays the same through updates, deletes, renumbering and reopening.
TEST(SearchStructures, EverythingAnswersWhenAllHashesCollide) {
  fixHashKeyForTesting(test::kTestHashKey, 1);
  test::TempDir dir;
  const std::string base = dir.path("db");
  auto db = test::createDatabase(base, {true, true});
  for (int i = 0; i < 6000; ++i)
    ASSERT_EQ(db->write(test::values({"k" + std::to_string(i), "v" + std::to_string(i % 5000)})),
              WriteStatus::appended);
  for (int i = 0; i < 6000; i += 2)
    ASSERT_TRUE(
        db->updateRecord(db->records().positionAt(i),
                         test::values({"k" + std::to_string(i), i % 4 == 0 ? "shared" : "w" + std::to_string(i)})));
  for (int i = 5999; i >= 0; i -= 3) ASSERT_TRUE(db->deleteRecord(db->records().positionAt(i)));
  EXPECT_EQ(test::checkConsistency(*db, base), "");
  db.reset();
  db = test::held(Database::open(base, "key", true));
  ASSERT_TRUE(db);
  EXPECT_EQ(db->numRecs(), 4000);
  EXPECT_EQ(test::checkConsistency(*db, base), "");
  fixHashKeyForTesting(test::kTestHashKey);
}

}  // namespace
}  // namespace mero
