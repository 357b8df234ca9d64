// The in-memory structures: position map, record table, search pool and key
// index, checked against plain models where they have rules of their own.

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "engine/key_index.h"
#include "engine/record_table.h"
#include "engine/search_pool.h"
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
    ASSERT_EQ(table.positions(), model) << step;
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
}

DbArray<uint8_t> indexedFlags(std::initializer_list<int> list) {
  DbArray<uint8_t> flags(static_cast<int32_t>(list.size()), 0);
  int32_t i = 0;
  for (const int f : list) flags.at(i++) = static_cast<uint8_t>(f);
  return flags;
}

TEST(SearchPool, StoresUpperCasedEncipheredValuesOfIndexedFieldsOnly) {
  const FieldCipher cipher("k");
  SearchPool pool(indexedFlags({1, 0, 1}));
  pool.poolAdd(0, test::values({"abc", "not kept", ""}), cipher);
  pool.poolAdd(1, test::values({"ABC", "x", "Zz"}), cipher);
  EXPECT_EQ(pool.poolUsed(), 3u + 0 + 3 + 2);
  EXPECT_EQ(pool.entries(1), 0u);
  EXPECT_EQ(pool.poolEntry(0, 0), pool.poolEntry(0, 1));  // case does not matter
  std::string expected = "ZZ";
  cipher.encode(expected.data(), 2, expected.data());
  EXPECT_EQ(pool.poolEntry(2, 1), expected);
  EXPECT_EQ(pool.poolEntry(2, 0).size(), 0u);
  EXPECT_EQ(pool.longestValue(), 3u);
}

TEST(SearchPool, ReplaceOverwritesShorterValuesAndAppendsLongerOnes) {
  const FieldCipher cipher("");
  SearchPool pool(indexedFlags({1}));
  pool.poolAdd(0, test::values({"hello"}), cipher);
  pool.poolReplace(0, 0, "hi", cipher);
  EXPECT_EQ(pool.poolUsed(), 5u);
  EXPECT_EQ(pool.poolEntry(0, 0), "HI");
  pool.poolReplace(0, 0, "greetings", cipher);
  EXPECT_EQ(pool.poolUsed(), 14u);
  EXPECT_EQ(pool.poolEntry(0, 0), "GREETINGS");
  EXPECT_EQ(pool.longestValue(), 9u);
  pool.poolReplace(0, 0, "a", cipher);
  EXPECT_EQ(pool.longestValue(), 9u);  // never decreases
}

TEST(SearchPool, DoublesWhenLessThanAQuarterIsFreeAndFitsHugeValues) {
  const FieldCipher cipher("");
  SearchPool pool(indexedFlags({1}));
  const std::string chunk(786432, 'a');
  pool.poolAdd(0, test::values({chunk}), cipher);
  EXPECT_EQ(pool.poolCapacity(), SearchPool::kInitialCapacity);
  pool.poolAdd(1, test::values({""}), cipher);  // exactly a quarter free: no doubling
  EXPECT_EQ(pool.poolCapacity(), SearchPool::kInitialCapacity);
  pool.poolAdd(2, test::values({"b"}), cipher);
  EXPECT_EQ(pool.poolCapacity(), SearchPool::kInitialCapacity);
  pool.poolAdd(3, test::values({"c"}), cipher);  // now less than a quarter is free
  EXPECT_EQ(pool.poolCapacity(), 2 * SearchPool::kInitialCapacity);
  // A value larger than any single doubling still lands inside the pool.
  const std::string huge(5 << 20, 'h');
  pool.poolAdd(4, test::values({huge}), cipher);
  EXPECT_GE(pool.poolCapacity(), pool.poolUsed());
  EXPECT_EQ(pool.poolEntry(0, 4), std::string(5 << 20, 'H'));
  EXPECT_EQ(pool.poolEntry(0, 2), "B");
  EXPECT_TRUE(pool.canHold(1000));
  EXPECT_FALSE(pool.canHold(SearchPool::kMaxCapacity));
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

}  // namespace
}  // namespace mero

namespace mero {
namespace {

TEST(FindBytes, AgreesWithAPlainSearchAtEveryOffset) {
  std::mt19937 rng(5);
  for (int round = 0; round < 3000; ++round) {
    std::string hay(rng() % 70, 'a');
    for (char& c : hay) c = static_cast<char>('a' + rng() % 3);
    std::string needle(1 + rng() % 5, 'a');
    for (char& c : needle) c = static_cast<char>('a' + rng() % 3);
    const size_t expected = std::string_view(hay).find(needle);
    const char* got = findBytes(hay.data(), hay.size(), needle);
    ASSERT_EQ(got == nullptr ? std::string_view::npos : static_cast<size_t>(got - hay.data()), expected)
        << hay << " / " << needle;
  }
}

TEST(SearchText, FindsEachValueOnceAndNeverAcrossOrInStaleBytes) {
  SearchText text;
  text.add(0, "abc");
  text.add(1, "cab");
  text.add(2, "xabcabc");
  std::vector<uint32_t> found;
  text.forEachContaining("AB", [&](uint32_t slot) { found.push_back(slot); });
  EXPECT_EQ(found, (std::vector<uint32_t>{0, 1, 2}));
  found.clear();
  text.forEachContaining("CC", [&](uint32_t slot) { found.push_back(slot); });  // "abc" + "cab" touch
  EXPECT_TRUE(found.empty());
  text.replace(0, "zz");        // shorter: in place, the old tail is cleared
  text.replace(1, "longer ab");  // longer: moves to the end
  text.remove(2);
  found.clear();
  text.forEachContaining("AB", [&](uint32_t slot) { found.push_back(slot); });
  EXPECT_EQ(found, (std::vector<uint32_t>{1}));
  EXPECT_EQ(text.valueOf(0), "ZZ");
  EXPECT_EQ(text.valueOf(1), "LONGER AB");
}

TEST(ValueHashIndex, LeadsToEverySlotAddedUnderAValue) {
  ValueHashIndex hashes;
  for (uint32_t slot = 0; slot < 5000; ++slot) hashes.add(slot, "v" + std::to_string(slot % 7));
  std::vector<uint32_t> found;
  hashes.forEachCandidate("v3", [&](uint32_t slot) { found.push_back(slot); });
  size_t exact = 0;
  for (const uint32_t slot : found) exact += slot % 7 == 3;
  EXPECT_EQ(exact, 714u);  // slots 3, 10, ..., 4994; others may share a bucket, callers verify
}

}  // namespace
}  // namespace mero

namespace mero {
namespace {

TEST(FindBytes, PaddedSearchAgreesWithAPlainSearch) {
  std::mt19937 rng(9);
  for (int round = 0; round < 5000; ++round) {
    std::string hay(rng() % 40, 'a');
    for (char& c : hay) c = static_cast<char>('a' + rng() % 3);
    std::string needle(1 + rng() % 6, 'a');
    for (char& c : needle) c = static_cast<char>('a' + rng() % 3);
    std::string padded = hay + std::string(kSearchPadding, '\0');
    const size_t expected = std::string_view(hay).find(needle);
    const char* got = findBytesPadded(padded.data(), hay.size(), needle);
    ASSERT_EQ(got == nullptr ? std::string_view::npos : static_cast<size_t>(got - padded.data()), expected)
        << hay << " / " << needle;
  }
}

}  // namespace
}  // namespace mero
