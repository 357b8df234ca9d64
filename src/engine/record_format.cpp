#include "engine/record_format.h"

#include <cstring>

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
  size_t at = 0;
  for (int32_t i = 0; i < fieldCount; ++i) {
    if (bodyLength - at < 4) return false;
    const int32_t n = decodeInt32(body + at);
    at += 4;
    if (n < 0 || static_cast<uint64_t>(n) > bodyLength - at) return false;
    if (wanted != nullptr && !wanted[i]) {
      out.add({});
    } else {
      char* value = out.addUninitialised(static_cast<size_t>(n));
      cipher.decode(body + at, static_cast<size_t>(n), value);
    }
    at += static_cast<size_t>(n);
  }
  if (filled != nullptr) *filled = at == bodyLength;
  return true;
}

}  // namespace mero
