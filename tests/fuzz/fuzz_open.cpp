// Open on arbitrary schema, index and data bytes, then use what opened.
//
// Input: flags (1 byte: bit 0 key index, bits 1-2 which key), schema length
// and index length (2 bytes each, little-endian), the schema bytes, the index
// bytes, and the rest as the data file.
//
// Open either refuses and leaves the files exactly as they were, or hands out
// an engine whose structures agree; records written, moved and deleted
// through it are found again after another open.

#include <set>
#include <vector>

#include "engine/database.h"
#include "engine/record_format.h"
#include "fuzz_support.h"

using namespace mero;

namespace {

struct View {
  std::vector<int32_t> positions;
  std::vector<std::string> images;  // each record's values, joined
  bool operator==(const View&) const = default;
};

// Checks the engine's structures against each other and returns what a
// caller sees.
View checkedView(Database& db) {
  View view;
  view.positions = db.records().positions();
  FUZZ_CHECK(db.numRecs() == static_cast<int32_t>(view.positions.size()));
  FUZZ_CHECK(std::set<int32_t>(view.positions.begin(), view.positions.end()).size() == view.positions.size());
  const std::vector<uint8_t> partial(static_cast<size_t>(db.fieldCount()), 1);
  FieldValues noTerms;
  for (int32_t f = 0; f < db.fieldCount(); ++f) noTerms.add("");
  FUZZ_CHECK(db.find(partial, noTerms) == view.positions);
  FieldValues values;
  for (const int32_t position : view.positions) {
    FUZZ_CHECK(db.getRecord(position, values));
    FUZZ_CHECK(values.size() == db.fieldCount());
    std::string joined;
    for (int32_t f = 0; f < values.size(); ++f) joined.append(values[f]).push_back('\0');
    view.images.push_back(joined);
    if (db.fieldCount() == 0) continue;
    // A record's own values find it, on indexed and plain fields alike.
    for (int32_t f = 0; f < db.fieldCount() && f < 4; ++f) {
      FieldValues term;
      for (int32_t g = 0; g < db.fieldCount(); ++g) term.add(g == f ? values[f] : std::string_view());
      bool found = false;
      for (const int32_t p : db.find(partial, term)) found = found || p == position;
      FUZZ_CHECK(found);
    }
    // The key index leads only to live records that hold the key. (A record
    // that shares its first field with another may be reachable by neither
    // key nor position of the other until the next open.)
    const int32_t keyed = db.getPos(values[0]);
    if (keyed >= 0) {
      uint32_t slot = 0;
      FieldValues owner;
      FUZZ_CHECK(db.records().slotOf(keyed, slot));
      FUZZ_CHECK(db.getRecord(keyed, owner) && owner[0] == values[0]);
    }
  }
  return view;
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
  fuzz::writeFile(base + ".str", schema);
  fuzz::writeFile(base + ".idx", index);
  fuzz::writeFile(base + ".dat", records);
  static const char* const keys[] = {"secret", "", "k\xC3\xA9y", "\x7F\x01"};
  const char* key = keys[(flags >> 1) & 3];
  const bool useKeyIndex = flags & 1;

  std::unique_ptr<Database> db = Database::open(base, key, useKeyIndex);
  if (!db) {
    FUZZ_CHECK(fuzz::readFile(base + ".str") == schema);
    FUZZ_CHECK(fuzz::readFile(base + ".idx") == index);
    FUZZ_CHECK(fuzz::readFile(base + ".dat") == records);
    return 0;
  }
  FUZZ_CHECK(fuzz::readFile(base + ".dat") == records);  // open never writes the data file
  checkedView(*db);

  // Change what opened: append, update the first record to something longer
  // (it moves) and then shorter (in place), delete the second.
  const int32_t fields = db->fieldCount();
  if (fields <= 64) {
    FieldValues fresh;
    for (int32_t f = 0; f < fields; ++f) fresh.add(f == 0 ? "fuzz-new-key" : "v");
    const WriteStatus status = db->write(fresh);
    FUZZ_CHECK(status == WriteStatus::appended || status == WriteStatus::duplicateKey);
    const std::vector<int32_t> positions = db->records().positions();
    if (!positions.empty()) {
      FieldValues longer;
      for (int32_t f = 0; f < fields; ++f) longer.add("a longer value than the fuzzer's");
      FUZZ_CHECK(db->updateRecord(positions[0], longer));
      const int32_t moved = db->records().positions()[0];
      FieldValues shorter;
      for (int32_t f = 0; f < fields; ++f) shorter.add("s");
      FUZZ_CHECK(db->updateRecord(moved, shorter));
      FUZZ_CHECK(db->records().positions()[0] == moved);
    }
    if (positions.size() > 1) FUZZ_CHECK(db->deleteRecord(positions[1]));
  }
  const View before = checkedView(*db);
  db.reset();

  std::unique_ptr<Database> reopened = Database::open(base, key, useKeyIndex);
  FUZZ_CHECK(reopened);
  FUZZ_CHECK(checkedView(*reopened) == before);
  return 0;
}
