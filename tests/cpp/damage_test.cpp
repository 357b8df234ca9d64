// Damaged files and hostile positions. Each damage is made on a good
// database of three records. Damage no power cut can cause: open must refuse
// it for its own reason and leave all three files as they were. Damage a
// power cut leaves: open drops exactly the records whose bytes never arrived,
// reports them, and writes the index back so that the next open finds
// nothing to do. A refused open of a database whose files are missing leaves
// none of them behind. Each way an image can be malformed is told apart at
// its boundary, the same by the walker and by the decoder; so is each way an
// index file's bytes can be.

#include <gtest/gtest.h>

#include <filesystem>

#include "engine/index_file.h"
#include "engine/record_format.h"
#include "engine/record_image.h"
#include "engine/record_order_reader.h"
#include "engine/repeated_positions.h"
#include "foundation/int32_codec.h"
#include "test_support.h"

namespace mero::test {
namespace {

std::string at(const std::string& s, size_t offset, const std::string& bytes) {
  return s.substr(0, offset) + bytes + s.substr(offset + bytes.size());
}

// Where the last of the standard database's records starts in its data file.
size_t lastImage(const std::string& data) {
  size_t p = 0;
  while (p + decodeInt32(data.data() + p) < data.size()) p += static_cast<size_t>(decodeInt32(data.data() + p));
  return p;
}

TEST(RecordImages, EachMalformationHasItsReasonAtItsBoundary) {
  const struct {
    std::string image;
    int32_t fieldCount;
    ImageFault fault;
    const char* message;
  } rows[] = {
      {le32(14) + le32(2) + "ab" + le32(0), 2, ImageFault::none, "well formed"},
      {le32(4), 0, ImageFault::none, "well formed"},
      {std::string("\x02\0\0", 3), 0, ImageFault::lengthBelowPrefix, "image length 3 is below 4"},
      {le32(8) + le32(0), 2, ImageFault::tooShortForFields, "image length 8 cannot hold 2 fields"},
      {le32(10) + le32(3) + "ab", 1, ImageFault::fieldPastImage, "field 0 length 3 runs past the end of the image"},
      {le32(13) + le32(2) + "ab" + std::string(3, '\0'), 2, ImageFault::fieldHeaderPastImage,
       "field 1 starts past the end of the image"},
      {le32(12) + le32(-1) + le32(0), 2, ImageFault::fieldPastImage,
       "field 0 length -1 runs past the end of the image"},
      {le32(15) + le32(2) + "ab" + le32(0) + "x", 2, ImageFault::fieldsShortOfImage,
       "image length 15 differs from its fields' 4 + sum(4 + n) = 14"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.message);
    const ImageDamage damage = checkImage(row.image, row.fieldCount);
    EXPECT_EQ(damage.fault, row.fault);
    EXPECT_EQ(describe(damage), row.message);
    if (row.image.size() < 4) continue;
    FieldValues values;
    bool filled = false;
    const bool decoded = decodeRecordBody(FieldCipher(""), row.fieldCount, row.image.data() + 4, row.image.size() - 4,
                                          values, nullptr, &filled);
    EXPECT_EQ(decoded, row.fault == ImageFault::none || row.fault == ImageFault::fieldsShortOfImage);
    EXPECT_EQ(decoded && filled, row.fault == ImageFault::none);
    // The walk of headers in a file meets the same field faults in the same bytes.
    if (row.fault == ImageFault::lengthBelowPrefix || row.fault == ImageFault::tooShortForFields) continue;
    const auto size = static_cast<int64_t>(row.image.size());
    const HeaderWalk walk = walkHeaders(0, size, size, row.fieldCount, [&](int64_t at, char* header) {
      row.image.copy(header, 4, static_cast<size_t>(at));
      return true;
    });
    const bool fieldFault = row.fault == ImageFault::fieldPastImage || row.fault == ImageFault::fieldHeaderPastImage;
    EXPECT_EQ(walk.damage.fault, fieldFault ? row.fault : ImageFault::none);
    if (fieldFault) {
      EXPECT_EQ(describe(walk.damage), row.message);
    }
  }
}

// Records that updates moved, in a scrambled order, read in record order
// with nothing, a few images and the default read ahead: each reads as a
// single read at its position does, whichever way it came.
TEST(RecordImages, ReadInRecordOrderEachIsWhatASingleReadGives) {
  TempDir dir;
  const std::string base = dir.path("db");
  createStandardDatabase(base, 40);
  std::vector<int32_t> positions;
  {
    HeldDatabase db = openStandardDatabase(base);
    ASSERT_TRUE(db);
    for (const int k : {17, 3, 29, 8, 35, 0, 22}) {
      const std::string key = "k" + std::to_string(k);
      ASSERT_TRUE(db->updateRecord(db->getPos(key), values({key, "moved", std::string(30 + k, 'm')})));
    }
    positions = db->records().positionList();
  }
  File file;
  ASSERT_TRUE(file.openReadWrite(base + ".dat"));
  const int64_t size = file.size();
  for (const size_t budget : {size_t{0}, size_t{200}, kReadAheadBytes}) {
    SCOPED_TRACE(budget);
    RecordOrderReader reader(file, size, positions, 3, budget);
    for (size_t r = 0; r < positions.size(); ++r) {
      DataFileReader single(file, size, 512);
      const std::string expected(single.rawImage(positions[r], 3));
      ASSERT_FALSE(expected.empty());
      EXPECT_EQ(std::string(reader.rawImage(r)), expected) << "record " << r;
    }
  }
}

TEST(IndexFiles, EachFaultIsToldApartAndTheEntriesGoAsFarAsTheFileHolds) {
  const struct {
    std::string bytes;
    IndexFault fault;
    std::vector<int32_t> entries;
  } rows[] = {
      {"", IndexFault::none, {}},
      {"\x01\0", IndexFault::none, {}},  // shorter than a count: no records
      {encodeIndex({8, 0}), IndexFault::none, {8, 0}},
      {encodeIndex({8}) + le32(77) + "xy", IndexFault::none, {8}},  // leftovers of deletes
      {le32(3) + le32(8) + le32(20) + "xy", IndexFault::countPastEntries, {8, 20}},
      {le32(-1) + le32(8) + le32(20), IndexFault::negativeCount, {8, 20}},
      {le32(2) + le32(8) + le32(-20), IndexFault::negativeEntry, {8, -20}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(::testing::PrintToString(row.bytes));
    const StoredIndex stored = decodeIndex(row.bytes);
    EXPECT_EQ(stored.fault(), row.fault);
    EXPECT_EQ(stored.entries, row.entries);
    EXPECT_EQ(stored.bytes, static_cast<int64_t>(row.bytes.size()));
  }
}

// What a torn delete's shift leaves: copies of entries. Positions past 2^22
// and 2^11 reach every pass of the sort.
TEST(IndexFiles, RepeatedPositionsAreFoundWhereverTheyStand) {
  const int32_t big = (1 << 30) + 5, mid = (1 << 22) + 1;
  const struct {
    std::vector<int32_t> entries;
    std::vector<int32_t> repeated;
  } rows[] = {
      {{}, {}},
      {{0, 8, 20, big}, {}},
      {{0, 8, 8, 20}, {8}},                                       // a delete's shift cut short
      {{big, 5, mid, 5, 2053, mid, big, big, 5}, {5, mid, big}},  // after moves, each once
      {{2053, 5, 5 + 4096}, {}},                                  // same low bits
  };
  for (const auto& row : rows) EXPECT_EQ(repeatedPositions(row.entries), row.repeated);
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
      {"index with a negative count", ".idx", [](const std::string& s) { return at(s, 0, le32(-3)); },
       OpenFailure::damagedIndex},
      {"index entry negative", ".idx", [](const std::string& s) { return at(s, 8, le32(-8)); },
       OpenFailure::damagedIndex},
      {"index entry inside a record", ".idx", [](const std::string& s) { return at(s, 8, le32(3)); },
       OpenFailure::damagedRecord},
      {"record length below its fields' minimum", ".dat", [](const std::string& s) { return at(s, 0, le32(8)); },
       OpenFailure::damagedRecord},
      {"record length past the end of the file", ".dat", [](const std::string& s) { return at(s, 0, le32(INT32_MAX)); },
       OpenFailure::damagedRecord},
      {"field length running past its record", ".dat", [](const std::string& s) { return at(s, 4, le32(1000)); },
       OpenFailure::damagedRecord},
      {"field length negative", ".dat", [](const std::string& s) { return at(s, 4, le32(-1)); },
       OpenFailure::damagedRecord},
      // The last record's length running past the end, though its fields end
      // inside the file: a wrong length, not a tail that never arrived.
      {"last record's length past the end, its fields inside", ".dat",
       [](const std::string& s) { return at(s, lastImage(s), le32(1000)); }, OpenFailure::damagedRecord},
      {"last record's field length running past it", ".dat",
       [](const std::string& s) { return at(s, lastImage(s) + 4, le32(500)); }, OpenFailure::damagedRecord},
      // A length beyond the record's fields that claims the next records'
      // bytes: an update in place would overwrite them.
      {"record length running over the next records", ".dat",
       [](const std::string& s) { return at(s, 0, le32(static_cast<int32_t>(lastImage(s)) + 8)); },
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

TEST(PowerCutDamage, OpenDropsWhatNeverArrivedAndRepairsTheIndex) {
  struct Damage {
    const char* what;
    const char* extension;
    std::function<std::string(const std::string&)> change;
    std::vector<int32_t> kept;          // record numbers of the standard database that stay
    std::vector<DroppedEntry> dropped;  // positions as -1: filled in from the index
    int32_t missing = 0;
  };
  using R = DropReason;
  const std::vector<Damage> damages = {
      {"data file cut inside the last record",
       ".dat",
       [](const std::string& s) { return s.substr(0, s.size() - 1); },
       {0, 1},
       {{2, -1, R::pastDataEnd}}},
      {"data file cut before the last record",
       ".dat",
       [](const std::string& s) { return s.substr(0, lastImage(s) + 2); },
       {0, 1},
       {{2, -1, R::pastDataEnd}}},
      {"last record zero-filled",
       ".dat",
       [](const std::string& s) { return s.substr(0, lastImage(s)) + std::string(s.size() - lastImage(s), '\0'); },
       {0, 1},
       {{2, -1, R::zeroFilledImage}}},
      {"index count beyond its entries",
       ".idx",
       [](const std::string& s) { return at(s, 0, le32(5)); },
       {0, 1, 2},
       {},
       2},
      {"index entry past the data file",
       ".idx",
       [](const std::string& s) { return at(s, 8, le32(1 << 30)); },
       {0, 2},
       {{1, 1 << 30, R::pastDataEnd}}},
      {"index entry zero-filled",
       ".idx",
       [](const std::string& s) { return at(s, 12, le32(0)); },
       {0, 1},
       {{2, 0, R::zeroFilledEntry}}},
      {"index listing one record twice, apart",
       ".idx",
       [](const std::string& s) { return s.substr(0, 4) + s.substr(12, 4) + s.substr(8, 4) + s.substr(12, 4); },
       {2, 1},
       {{2, -1, R::repeatedPosition}}},
      {"a delete's shift cut short at its start",
       ".idx",
       [](const std::string& s) { return s.substr(0, 4) + s.substr(8, 4) + s.substr(8, 4) + s.substr(12, 4); },
       {1, 2},
       {{1, -1, R::repeatedPosition}}},
  };
  for (const Damage& damage : damages) {
    SCOPED_TRACE(damage.what);
    TempDir dir;
    const std::string base = dir.path("db");
    createStandardDatabase(base, 3);
    Snapshot whole = snapshotOf(*openStandardDatabase(base));
    const std::string path = base + damage.extension;
    writeFile(path, damage.change(readFile(path)));
    const std::string index = readFile(base + ".idx");
    OpenFailure why = OpenFailure::none;
    HeldDatabase db = openStandardDatabase(base, &why);
    ASSERT_TRUE(db) << static_cast<int>(why);
    Snapshot expected;
    for (const int32_t r : damage.kept) expected.push_back(whole[static_cast<size_t>(r)]);
    EXPECT_EQ(snapshotOf(*db), expected);
    EXPECT_EQ(checkConsistency(*db, base), "");
    const RecoveryReport& report = db->recovery();
    EXPECT_EQ(report.keptCount, static_cast<int32_t>(expected.size()));
    EXPECT_EQ(report.missingEntries, damage.missing);
    ASSERT_EQ(report.dropped.size(), damage.dropped.size());
    for (size_t i = 0; i < damage.dropped.size(); ++i) {
      const DroppedEntry& want = damage.dropped[i];
      const int32_t stored = decodeInt32(index.data() + 4 + 4 * want.recordNumber);
      EXPECT_EQ(report.dropped[i].recordNumber, want.recordNumber);
      EXPECT_EQ(report.dropped[i].position, want.position < 0 ? stored : want.position);
      EXPECT_EQ(report.dropped[i].reason, want.reason);
    }
    EXPECT_TRUE(report.indexRepaired);
    // The repair stands: the next open drops nothing and shows the same.
    db.reset();
    db = openStandardDatabase(base);
    ASSERT_TRUE(db);
    EXPECT_TRUE(db->recovery().empty());
    EXPECT_FALSE(db->recovery().indexRepaired);
    EXPECT_EQ(snapshotOf(*db), expected);
  }
}

// What a power cut leaves when the last records' index entries reached the
// disk and their bytes did not: 1,000 records, the data file's last 100
// bytes gone. The 996 whole records open; the four are reported.
TEST(PowerCutDamage, ADataFileMissingItsTailOpensWithEveryWholeRecord) {
  TempDir dir;
  const std::string base = dir.path("db");
  createStandardDatabase(base, 1000);
  const std::string data = readFile(base + ".dat");
  writeFile(base + ".dat", data.substr(0, data.size() - 100));
  HeldDatabase db = openStandardDatabase(base);
  ASSERT_TRUE(db);
  EXPECT_EQ(db->numRecs(), 996);
  EXPECT_EQ(checkConsistency(*db, base), "");
  const RecoveryReport& report = db->recovery();
  EXPECT_EQ(report.storedCount, 1000);
  EXPECT_EQ(report.keptCount, 996);
  ASSERT_EQ(report.dropped.size(), 4u);
  for (int32_t i = 0; i < 4; ++i) {
    EXPECT_EQ(report.dropped[i].recordNumber, 996 + i);
    EXPECT_EQ(report.dropped[i].reason, DropReason::pastDataEnd);
  }
  EXPECT_EQ(report.summary(), "996 of 1000 records kept; 4 dropped: record bytes past the end of the data file");
  FieldValues read;
  EXPECT_TRUE(db->getRecordByKey("k995", read));
  EXPECT_FALSE(db->getRecordByKey("k996", read));
}

// Refused opens take back the files they created: with a damaged schema
// beside no other file, and in a folder that does not exist.
TEST(DamagedFiles, ARefusedOpenLeavesNoFileItCreated) {
  TempDir dir;
  const std::string base = dir.path("alone");
  writeFile(base + ".str", le32(-5));
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
  HeldDatabase db = openStandardDatabase(base);
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

// Each record reads back right after its append. Then another program
// shortens the data file under the open database: reads of the bytes it took
// answer nothing, and the bytes left still read.
TEST(ShortenedDataFile, ReadsFollowAppendsAndFailWhereTheBytesAreGone) {
  TempDir dir;
  const std::string base = dir.path("db");
  auto db = createDatabase(base, {true, false});
  const std::string note(1000, 'n');
  std::vector<int32_t> positions;
  FieldValues out;
  for (int i = 0; i < 6000; ++i) {
    const std::string key = "k" + std::to_string(i);
    int32_t position = -1;
    ASSERT_EQ(db->write(values({key, note}), &position), WriteStatus::appended);
    ASSERT_TRUE(db->getRecord(position, out)) << i;
    ASSERT_EQ(out[0], key);
    positions.push_back(position);
  }
  ASSERT_TRUE(db->getRecordByKey("k5000", out));  // now in the read cache
  std::filesystem::resize_file(base + ".dat", static_cast<uintmax_t>(positions[3000]));
  EXPECT_FALSE(db->getRecord(positions[5999], out));
  EXPECT_FALSE(db->getRecordByKey("k4000", out));
  ASSERT_TRUE(db->getRecord(positions[10], out));
  EXPECT_EQ(out[0], "k10");
  // What the read cache took before the cut may still answer a read by
  // key, but only with the bytes that were there.
  if (db->getRecordByKey("k5000", out)) {
    EXPECT_EQ(out[0], "k5000");
  }
}

}  // namespace
}  // namespace mero::test
