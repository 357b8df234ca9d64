// The schema block and the index file, byte for byte, and how damaged or
// torn files are read back.

#include <gtest/gtest.h>

#include "engine/index_file.h"
#include "engine/schema.h"
#include "platform/file.h"
#include "test_support.h"

namespace mero {
namespace {

using test::bytes;
using test::le32;

DbArray<DbString> namesOf(std::initializer_list<const char*> list) {
  DbArray<DbString> names;
  names.resize(static_cast<int32_t>(list.size()));
  int32_t i = 0;
  for (const char* n : list) names.at(i++) = n;
  return names;
}

DbArray<uint8_t> flagsOf(std::initializer_list<int> list) {
  DbArray<uint8_t> flags(static_cast<int32_t>(list.size()), 0);
  int32_t i = 0;
  for (const int f : list) flags.at(i++) = static_cast<uint8_t>(f);
  return flags;
}

TEST(SchemaFile, BlockBytes) {
  test::TempDir dir;
  const std::string path = dir.path("db.str");
  ASSERT_TRUE(appendSchemaBlock(path, flagsOf({1, 0}), namesOf({"name", "age"})));
  EXPECT_EQ(test::readFile(path),
            bytes({2, 0, 0, 0, 1, 4, 0, 0, 0, 0x6E, 0x61, 0x6D, 0x65, 0, 3, 0, 0, 0, 0x61, 0x67, 0x65}));

  const std::string other = dir.path("other.str");
  ASSERT_TRUE(appendSchemaBlock(other, flagsOf({}), namesOf({})));
  EXPECT_EQ(test::readFile(other), bytes({0, 0, 0, 0}));
  // Non-ASCII names are their UTF-8 bytes; empty names have no bytes. Any
  // nonzero flag is stored as 1.
  const std::string third = dir.path("third.str");
  ASSERT_TRUE(appendSchemaBlock(third, flagsOf({7, 0}), namesOf({"\xC3\xA9", ""})));
  EXPECT_EQ(test::readFile(third), le32(2) + bytes({1}) + le32(2) + "\xC3\xA9" + bytes({0}) + le32(0));
}

TEST(SchemaFile, OnlyTheFirstBlockCounts) {
  test::TempDir dir;
  const std::string path = dir.path("db.str");
  ASSERT_TRUE(appendSchemaBlock(path, flagsOf({1, 0}), namesOf({"a", "b"})));
  ASSERT_TRUE(appendSchemaBlock(path, flagsOf({0, 0, 0}), namesOf({"x", "y", "z"})));
  File file;
  ASSERT_TRUE(file.openReadWrite(path));
  Schema schema;
  ASSERT_TRUE(readSchema(file, schema));
  EXPECT_EQ(schema.fieldCount, 2);
  EXPECT_EQ(schema.indexed.at(0), 1);
  EXPECT_EQ(schema.indexed.at(1), 0);
  EXPECT_EQ(schema.fieldNames.at(1), DbString("b"));
}

TEST(SchemaFile, EmptyReadsAsNoFieldsAndDamageIsRefused) {
  test::TempDir dir;
  const std::string path = dir.path("db.str");
  const auto readsAs = [&](const std::string& content, int32_t& fields) {
    test::writeFile(path, content);
    File file;
    EXPECT_TRUE(file.openReadWrite(path));
    Schema schema;
    const bool ok = readSchema(file, schema);
    fields = schema.fieldCount;
    return ok;
  };
  int32_t fields = -1;
  EXPECT_TRUE(readsAs("", fields));
  EXPECT_EQ(fields, 0);
  EXPECT_FALSE(readsAs(bytes({1, 0}), fields));                             // short count
  EXPECT_FALSE(readsAs(le32(2) + bytes({1}) + le32(1) + "a", fields));      // second field missing
  EXPECT_FALSE(readsAs(le32(1) + bytes({1}) + le32(9) + "abc", fields));    // name runs past the end
  EXPECT_FALSE(readsAs(le32(-3), fields));                                  // negative count
  EXPECT_FALSE(readsAs(le32(0x7FFFFFFF) + bytes({1, 0, 0, 0, 0}), fields));  // impossible count
}

class IndexFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = dir_.path("db.idx");
    test::writeFile(path_, "");
    ASSERT_TRUE(file_.openReadWrite(path_));
  }
  std::vector<int32_t> stored() { return test::indexEntries(dir_.path("db")); }

  test::TempDir dir_;
  std::string path_;
  File file_;
};

TEST_F(IndexFileTest, AppendsAndDeletesLeaveTheStaleTailInPlace) {
  IndexFile index(file_);
  std::vector<int32_t> positions;
  int32_t repeat = 0;
  EXPECT_EQ(index.load(positions, repeat), IndexFile::LoadResult::ok);
  EXPECT_TRUE(positions.empty());

  ASSERT_TRUE(index.appendEntry(1, 0));
  EXPECT_EQ(test::readFile(path_), le32(1) + le32(0));
  ASSERT_TRUE(index.appendEntry(2, 20));
  ASSERT_TRUE(index.appendEntry(3, 45));
  EXPECT_EQ(stored(), (std::vector<int32_t>{3, 0, 20, 45}));

  ASSERT_TRUE(index.removeEntry(1, {0, 20, 45}));
  EXPECT_EQ(stored(), (std::vector<int32_t>{2, 0, 45, 45}));
  ASSERT_TRUE(index.appendEntry(3, 70));
  EXPECT_EQ(stored(), (std::vector<int32_t>{3, 0, 45, 70}));
  ASSERT_TRUE(index.rewriteEntry(0, 99));
  EXPECT_EQ(stored(), (std::vector<int32_t>{3, 99, 45, 70}));
  ASSERT_TRUE(index.removeEntry(2, {99, 45, 70}));  // the last: only the count changes
  EXPECT_EQ(stored(), (std::vector<int32_t>{2, 99, 45, 70}));
  EXPECT_EQ(index.load(positions, repeat), IndexFile::LoadResult::ok);
  EXPECT_EQ(positions, (std::vector<int32_t>{99, 45}));
}

TEST_F(IndexFileTest, TornDeleteIsDetectedAndCompleted) {
  // A delete of 20 from [0, 20, 45, 70] that shifted one entry and died.
  test::writeFile(path_, le32(4) + le32(0) + le32(45) + le32(45) + le32(70));
  IndexFile index(file_);
  std::vector<int32_t> positions;
  int32_t repeat = -1;
  EXPECT_EQ(index.load(positions, repeat), IndexFile::LoadResult::tornDelete);
  EXPECT_EQ(positions, (std::vector<int32_t>{0, 45, 70}));
  EXPECT_EQ(repeat, 2);
  ASSERT_TRUE(index.completeTornDelete(positions, repeat));
  EXPECT_EQ(stored(), (std::vector<int32_t>{3, 0, 45, 70, 70}));
}

TEST_F(IndexFileTest, DamagedFilesAreRefused) {
  IndexFile index(file_);
  std::vector<int32_t> positions;
  int32_t repeat = 0;
  test::writeFile(path_, bytes({5, 0}));  // shorter than a count: no records
  EXPECT_EQ(index.load(positions, repeat), IndexFile::LoadResult::ok);
  test::writeFile(path_, le32(3) + le32(0) + le32(8));  // announces more than it holds
  EXPECT_EQ(index.load(positions, repeat), IndexFile::LoadResult::damaged);
  test::writeFile(path_, le32(-1));
  EXPECT_EQ(index.load(positions, repeat), IndexFile::LoadResult::damaged);
  test::writeFile(path_, le32(1) + le32(-8));
  EXPECT_EQ(index.load(positions, repeat), IndexFile::LoadResult::damaged);
}

}  // namespace
}  // namespace mero
