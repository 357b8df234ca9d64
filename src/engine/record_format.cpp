#include "engine/record_format.h"

#include <cstring>

#include "engine/record_image.h"
#include "foundation/int32_codec.h"

namespace mero {

uint64_t recordImageSize(const FieldValues& values) {
  return 4 + 4 * static_cast<uint64_t>(values.size()) + values.valueBytes();
}

void encodeRecord(const FieldCipher& cipher, const FieldValues& values, std::string& image) {
  const uint64_t size = recordImageSize(values);
  image.resize(size);
  char* out = image.data();
  encodeInt32(static_cast<int32_t>(size), out);
  out += 4;
  for (int32_t i = 0; i < values.size(); ++i) {
    const std::string_view v = values[i];
    encodeInt32(static_cast<int32_t>(v.size()), out);
    cipher.encode(v.data(), v.size(), out + 4);
    out += 4 + v.size();
  }
}

bool decodeRecordBody(const FieldCipher& cipher, int32_t fieldCount, const char* body, size_t bodyLength,
                      FieldValues& out, const uint8_t* wanted, bool* filled) {
  out.clear();
  if (bodyLength < 4 * static_cast<uint64_t>(fieldCount)) return false;
  out.reserveBytes(bodyLength);
  FieldWalker walker(body, bodyLength);
  std::string_view field;
  for (int32_t i = 0; i < fieldCount; ++i) {
    if (!walker.next(field)) return false;
    if (wanted != nullptr && !wanted[i]) {
      out.add({});
    } else {
      char* value = out.addUninitialised(field.size());
      cipher.decode(field.data(), field.size(), value);
    }
  }
  if (filled != nullptr) *filled = walker.filled();
  return true;
}

}  // namespace mero
