// The registry: ids, entries, and the life of a database through define,
// open, close and unregister, without the JVM.

#include <gtest/gtest.h>

#include "jni/database_registry.h"
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
  EXPECT_EQ(registry_.lookup(id)->numRecs(), 1);
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

TEST_F(RegistryTest, OpenFailsInAMissingDirectory) {
  const int32_t id = registry_.registerName(dir_.path("no/such/dir/db"));
  EXPECT_FALSE(registry_.open(id, "k", true));
  EXPECT_EQ(registry_.lookup(id), nullptr);
  EXPECT_FALSE(registry_.define(id, flags(0, 0), names({})));
  EXPECT_TRUE(registry_.unregister(id));
}

}  // namespace
}  // namespace mero
