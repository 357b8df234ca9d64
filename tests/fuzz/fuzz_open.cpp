// Open on arbitrary schema, index and data bytes, then use what opened.
//
// Input: flags (1 byte: bit 0 key index, bits 1-2 which key), schema length
// and index length (2 bytes each, little-endian), the schema bytes, the index
// bytes, and the rest as the data file.
//
// Open either refuses and leaves the files exactly as they were, or hands out
// an engine whose structures agree; records written, moved and deleted
// through it are found again after another open.

#include "engine/database.h"
#include "fuzz_support.h"
#include "test_support.h"

using namespace mero;

namespace {

// What a caller sees, once the structures have been found consistent.
test::Snapshot checkedView(const Database& db, const std::string& base) {
  const std::string problems = test::checkConsistency(db, base);
  if (!problems.empty()) std::fprintf(stderr, "%s\n", problems.c_str());
  FUZZ_CHECK(problems.empty());
  return test::snapshotOf(db);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::InputReader input(data, size);
  const uint8_t flags = input.byte();
  const uint32_t schemaLength = input.u16();
  const uint32_t indexLength = input.u16();
  const std::string_view schema = input.bytes(schemaLength);
  const std::string_view index = input.bytes(indexLength);
  const std::string_view records = input.rest();

  const std::string& base = fuzz::scratchBase();
  test::writeFile(base + ".str", std::string(schema));
  test::writeFile(base + ".idx", std::string(index));
  test::writeFile(base + ".dat", std::string(records));
  static const char* const keys[] = {"secret", "", "k\xC3\xA9y", "\x7F\x01"};
  const char* key = keys[(flags >> 1) & 3];
  const bool useKeyIndex = flags & 1;

  test::HeldDatabase db = test::held(Database::open(base, key, useKeyIndex));
  if (!db) {
    FUZZ_CHECK(test::readFile(base + ".str") == schema);
    FUZZ_CHECK(test::readFile(base + ".idx") == index);
    FUZZ_CHECK(test::readFile(base + ".dat") == records);
    return 0;
  }
  FUZZ_CHECK(test::readFile(base + ".dat") == records);  // open never writes the data file
  checkedView(*db, base);

  // Change what opened: append, update the first record to something longer
  // (it moves) and then shorter, delete the second.
  const int32_t fields = db->fieldCount();
  if (fields <= 64) {
    FieldValues fresh;
    for (int32_t f = 0; f < fields; ++f) fresh.add(f == 0 ? "fuzz-new-key" : "v");
    const WriteStatus status = db->write(fresh);
    FUZZ_CHECK(status == WriteStatus::appended || status == WriteStatus::duplicateKey ||
               (status == WriteStatus::notStored && db->recovery().schemaIncomplete));
    const std::vector<int32_t> positions = db->records().positionList();
    if (!positions.empty()) {
      FieldValues longer;
      for (int32_t f = 0; f < fields; ++f) longer.add("a longer value than the fuzzer's");
      FUZZ_CHECK(db->updateRecord(positions[0], longer));
      const int32_t moved = db->records().positionAt(0);
      FieldValues shorter;
      for (int32_t f = 0; f < fields; ++f) shorter.add("s");
      FUZZ_CHECK(db->updateRecord(moved, shorter));
    }
    if (positions.size() > 1) FUZZ_CHECK(db->deleteRecord(positions[1]));
  }
  const test::Snapshot before = checkedView(*db, base);
  db.reset();

  test::HeldDatabase reopened = test::held(Database::open(base, key, useKeyIndex));
  FUZZ_CHECK(reopened);
  FUZZ_CHECK(checkedView(*reopened, base) == before);
  return 0;
}
