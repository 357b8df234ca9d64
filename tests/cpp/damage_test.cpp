// Damaged files and hostile positions. Each damage is made on a good
// database of three records; open must refuse it for its own reason and
// leave all three files as they were. A refused open of a database whose
// files are missing leaves none of them behind.

#include <gtest/gtest.h>

#include <filesystem>

#include "test_support.h"

namespace mero::test {
namespace {

std::string at(const std::string& s, size_t offset, const std::string& bytes) {
  return s.substr(0, offset) + bytes + s.substr(offset + bytes.size());
}

TEST(DamagedFiles, OpenRefusesForTheRightReasonWithoutWriting) {
  struct Damage {
    const char* what;
    const char* extension;
    std::function<std::string(const std::string&)> change;
    OpenFailure reason;
  };
  const std::vector<Damage> damages = {
      {"schema cut inside a field name", ".str", [](const std::string& s) { return s.substr(0, s.size() - 2); },
       OpenFailure::damagedSchema},
      {"schema announcing a million fields", ".str", [](const std::string& s) { return at(s, 0, le32(1000000)); },
       OpenFailure::damagedSchema},
      {"schema with a negative field count", ".str", [](const std::string& s) { return at(s, 0, le32(-1)); },
       OpenFailure::damagedSchema},
      {"index count beyond its entries", ".idx", [](const std::string& s) { return at(s, 0, le32(4)); },
       OpenFailure::damagedIndex},
      {"index with a negative count", ".idx", [](const std::string& s) { return at(s, 0, le32(-3)); },
       OpenFailure::damagedIndex},
      {"index entry negative", ".idx", [](const std::string& s) { return at(s, 8, le32(-8)); },
       OpenFailure::damagedIndex},
      {"index entry past the data file", ".idx", [](const std::string& s) { return at(s, 8, le32(1 << 30)); },
       OpenFailure::damagedRecord},
      {"index entry inside a record", ".idx", [](const std::string& s) { return at(s, 8, le32(3)); },
       OpenFailure::damagedRecord},
      {"index listing one record twice, apart", ".idx",
       [](const std::string& s) { return s.substr(0, 4) + s.substr(12, 4) + s.substr(8, 4) + s.substr(12, 4); },
       OpenFailure::repeatedPosition},
      {"record length below its fields' minimum", ".dat", [](const std::string& s) { return at(s, 0, le32(8)); },
       OpenFailure::damagedRecord},
      {"record length past the end of the file", ".dat", [](const std::string& s) { return at(s, 0, le32(INT32_MAX)); },
       OpenFailure::damagedRecord},
      {"field length running past its record", ".dat", [](const std::string& s) { return at(s, 4, le32(1000)); },
       OpenFailure::damagedRecord},
      {"field length negative", ".dat", [](const std::string& s) { return at(s, 4, le32(-1)); },
       OpenFailure::damagedRecord},
      {"data file cut inside the last record", ".dat", [](const std::string& s) { return s.substr(0, s.size() - 1); },
       OpenFailure::damagedRecord},
  };
  for (const Damage& damage : damages) {
    SCOPED_TRACE(damage.what);
    TempDir dir;
    const std::string base = dir.path("db");
    createStandardDatabase(base, 3);
    const std::string path = base + damage.extension;
    writeFile(path, damage.change(readFile(path)));
    const std::string files[3] = {readFile(base + ".str"), readFile(base + ".idx"), readFile(base + ".dat")};
    OpenFailure why = OpenFailure::none;
    EXPECT_FALSE(openStandardDatabase(base, &why));
    EXPECT_EQ(why, damage.reason);
    EXPECT_EQ(readFile(base + ".str"), files[0]);
    EXPECT_EQ(readFile(base + ".idx"), files[1]);
    EXPECT_EQ(readFile(base + ".dat"), files[2]);
  }
}

// Refused opens take back the files they created: with a damaged schema
// beside no other file, and in a folder that does not exist.
TEST(DamagedFiles, ARefusedOpenLeavesNoFileItCreated) {
  TempDir dir;
  const std::string base = dir.path("alone");
  writeFile(base + ".str", le32(5));
  OpenFailure why = OpenFailure::none;
  EXPECT_FALSE(openStandardDatabase(base, &why));
  EXPECT_EQ(why, OpenFailure::damagedSchema);
  EXPECT_FALSE(std::filesystem::exists(base + ".dat"));
  EXPECT_FALSE(std::filesystem::exists(base + ".idx"));
  EXPECT_FALSE(openStandardDatabase(dir.path("missing/db"), &why));
  EXPECT_EQ(why, OpenFailure::filesUnavailable);
}

// Every offset of the data file, and offsets past and far past its end: a
// read returns the schema's number of values or nothing. A long run of
// bytes taken for a huge length is refused by its field headers.
TEST(HostilePositions, EveryOffsetReadsARecordOrNothing) {
  TempDir dir;
  const std::string base = dir.path("db");
  createStandardDatabase(base, 4, 70000);
  std::unique_ptr<Database> db = openStandardDatabase(base);
  const auto size = static_cast<int32_t>(db->dataFileSize());
  FieldValues read;
  int readable = 0;
  for (int32_t p = -8; p < size + 64; p += p < 64 || p > size - 64 ? 1 : 97) {
    if (!db->getRecord(p, read)) continue;
    ++readable;
    EXPECT_EQ(read.size(), 3);
  }
  EXPECT_GE(readable, 1);
  for (const int32_t far : {INT32_MAX, INT32_MAX - 4, INT32_MIN, size, size - 3, 1 << 30})
    EXPECT_FALSE(db->getRecord(far, read)) << far;
  EXPECT_EQ(checkConsistency(*db, base), "");
}

}  // namespace
}  // namespace mero::test
