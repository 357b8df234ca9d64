// Damaged files and hostile positions, natively. Open refuses damage it
// cannot repair without writing a byte, and a read anywhere in or beyond the
// data file returns a well-formed record or nothing. Inputs the fuzzers
// found are kept as cases here.

#include <gtest/gtest.h>

#include <climits>
#include <fstream>
#include <iterator>

#include "foundation/int32_codec.h"
#include "reliability_support.h"

namespace mero::test {
namespace {

std::string fileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void putFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string int32Bytes(std::initializer_list<int32_t> values) {
  std::string out;
  for (const int32_t v : values) {
    char b[4];
    encodeInt32(v, b);
    out.append(b, 4);
  }
  return out;
}

// Each damage is made on a good database of three records; open must refuse
// it and leave all three files as they were.
TEST(DamagedFiles, OpenRefusesWithoutWritingAnything) {
  struct Damage {
    const char* what;
    const char* extension;
    std::function<std::string(const std::string&)> change;
  };
  const std::vector<Damage> damages = {
      {"schema cut inside a field name", ".str", [](const std::string& s) { return s.substr(0, s.size() - 2); }},
      {"schema announcing a million fields", ".str",
       [](const std::string& s) { return int32Bytes({1000000}) + s.substr(4); }},
      {"schema with a negative field count", ".str", [](const std::string& s) { return int32Bytes({-1}) + s.substr(4); }},
      {"index count beyond its entries", ".idx", [](const std::string& s) { return int32Bytes({4}) + s.substr(4); }},
      {"index with a negative count", ".idx", [](const std::string& s) { return int32Bytes({-3}) + s.substr(4); }},
      {"index entry past the data file", ".idx",
       [](const std::string& s) { return s.substr(0, 8) + int32Bytes({1 << 30}) + s.substr(12); }},
      {"index entry inside a record", ".idx", [](const std::string& s) { return s.substr(0, 8) + int32Bytes({3}) + s.substr(12); }},
      {"index entry negative", ".idx", [](const std::string& s) { return s.substr(0, 8) + int32Bytes({-8}) + s.substr(12); }},
      {"index listing one record twice, apart", ".idx",
       [](const std::string& s) { return s.substr(0, 4) + s.substr(12, 4) + s.substr(8, 4) + s.substr(12, 4); }},
      {"record length below its fields' minimum", ".dat", [](const std::string& s) { return int32Bytes({8}) + s.substr(4); }},
      {"record length past the end of the file", ".dat",
       [](const std::string& s) { return int32Bytes({INT32_MAX}) + s.substr(4); }},
      {"field length running past its record", ".dat",
       [](const std::string& s) { return s.substr(0, 4) + int32Bytes({1000}) + s.substr(8); }},
      {"field length negative", ".dat", [](const std::string& s) { return s.substr(0, 4) + int32Bytes({-1}) + s.substr(8); }},
      {"data file cut inside the last record", ".dat", [](const std::string& s) { return s.substr(0, s.size() - 1); }},
  };
  for (const Damage& damage : damages) {
    SCOPED_TRACE(damage.what);
    ScratchDir dir;
    const std::string base = dir.base("db");
    createTestDatabase(base, 3);
    const std::string path = base + damage.extension;
    putFile(path, damage.change(fileBytes(path)));
    const std::string files[3] = {fileBytes(base + ".str"), fileBytes(base + ".idx"), fileBytes(base + ".dat")};
    EXPECT_FALSE(openTestDatabase(base));
    EXPECT_EQ(fileBytes(base + ".str"), files[0]);
    EXPECT_EQ(fileBytes(base + ".idx"), files[1]);
    EXPECT_EQ(fileBytes(base + ".dat"), files[2]);
  }
}

// Every offset of the data file, and offsets past and far past its end: a
// read returns the schema's number of values or nothing, never crashes.
TEST(HostilePositions, EveryOffsetReadsARecordOrNothing) {
  ScratchDir dir;
  const std::string base = dir.base("db");
  createTestDatabase(base, 4);
  std::unique_ptr<Database> db = openTestDatabase(base);
  const std::vector<int32_t> live = db->records().positions();
  const auto size = static_cast<int32_t>(db->dataFileSize());
  FieldValues values;
  int readable = 0;
  for (int32_t p = -8; p < size + 64; ++p) {
    if (!db->getRecord(p, values)) continue;
    ++readable;
    EXPECT_EQ(values.size(), 3);
  }
  EXPECT_GE(readable, static_cast<int>(live.size()));
  for (const int32_t far : {INT32_MAX, INT32_MAX - 4, INT32_MIN, size, size - 3, 1 << 30})
    EXPECT_FALSE(db->getRecord(far, values)) << far;
  // Nothing was disturbed: the live records still read and change normally.
  EXPECT_EQ(inconsistencies(*db), "");
  EXPECT_FALSE(db->updateRecord(live[1] + 1, valuesOf({"x", "y", "z"})));
  EXPECT_FALSE(db->deleteRecord(size));
  EXPECT_EQ(db->write(valuesOf({"after", "the", "reads"})), WriteStatus::appended);
}

}  // namespace
}  // namespace mero::test
