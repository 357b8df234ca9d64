// Reading a record at an arbitrary position of an arbitrary data file.
//
// Input: field count (1 byte, 0-8), key length (1 byte, 0-7) and the key,
// a position (4 bytes, little-endian, any int32), and the rest as the data
// file. The index is empty, so nothing is read at open.
//
// A read either refuses, or returns exactly fieldCount values which,
// enciphered again, are the bytes stored at that position, inside the file.

#include <string>

#include "engine/database.h"
#include "engine/record_format.h"
#include "foundation/int32_codec.h"
#include "fuzz_support.h"
#include "test_support.h"

using namespace mero;

namespace {

void checkRead(Database& db, int32_t position, std::string_view file) {
  FieldValues values;
  if (!db.getRecord(position, values)) return;
  FUZZ_CHECK(position >= 0 && static_cast<size_t>(position) + 4 <= file.size());
  FUZZ_CHECK(values.size() == db.fieldCount());
  std::string image;
  encodeRecord(db.cipher(), values, image);
  const int32_t storedLength = decodeInt32(file.data() + position);
  FUZZ_CHECK(storedLength >= static_cast<int64_t>(image.size()));
  FUZZ_CHECK(static_cast<size_t>(storedLength) <= file.size() - static_cast<size_t>(position));
  // Bytes after the last field are ignored; everything before them must match.
  FUZZ_CHECK(file.substr(static_cast<size_t>(position) + 4, image.size() - 4) == std::string_view(image).substr(4));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::InputReader input(data, size);
  const int fieldCount = input.byte() % 9;
  const std::string key(input.bytes(input.byte() % 8));
  const auto position = static_cast<int32_t>(input.u32());
  const std::string_view file = input.rest();

  std::string schema(4, '\0');
  encodeInt32(fieldCount, schema.data());
  for (int f = 0; f < fieldCount; ++f) schema += std::string("\x01\x01\x00\x00\x00", 5) + "f";
  const std::string& base = fuzz::scratchBase();
  test::writeFile(base + ".str", schema);
  test::writeFile(base + ".idx", "");
  test::writeFile(base + ".dat", std::string(file));

  test::HeldDatabase db = test::held(Database::open(base, key, true));
  FUZZ_CHECK(db);
  checkRead(*db, position, file);
  // Every offset of a small file, and the far side of its end.
  const int32_t limit = static_cast<int32_t>(file.size() < 256 ? file.size() + 8 : 256);
  for (int32_t p = 0; p < limit; ++p) checkRead(*db, p, file);
  for (const int32_t far : {INT32_MAX, INT32_MAX - 3, static_cast<int32_t>(file.size()) + 4096, -1, INT32_MIN})
    checkRead(*db, far, file);
  return 0;
}
