#pragma once
// A record image in the data file:
//   R (int32, the whole image's length, these 4 bytes included)
//   then per field, in schema order: n_i (int32) and n_i enciphered bytes.
// R = 4 + sum(4 + n_i). There is no separator, checksum or padding, and the
// image does not carry its field count: it is read with the schema's.

#include <cstdint>
#include <string>

#include "engine/field_cipher.h"
#include "engine/field_values.h"

namespace mero {

// Positions are signed 32-bit offsets, so the data file must stay below 2^31.
constexpr int64_t kMaxDataFileSize = INT32_MAX;

// The image's length R, computed in 64 bits so that a huge record cannot wrap.
uint64_t recordImageSize(const FieldValues& values);

// Builds the whole image into `image` (replacing its contents).
void encodeRecord(const FieldCipher& cipher, const FieldValues& values, std::string& image);

// Parses the R - 4 bytes that follow the length prefix into fieldCount
// deciphered values, walking them with FieldWalker (record_image.h). False
// when the body cannot hold fieldCount fields or a field's length runs past
// it. Bytes after the last field are ignored.
// With `wanted`, only the fields it marks are deciphered; the others come
// back empty (the image is still checked whole).
// `filled` (when given) tells whether the fields fill the body exactly, as
// every image the library writes does.
bool decodeRecordBody(const FieldCipher& cipher, int32_t fieldCount, const char* body, size_t bodyLength,
                      FieldValues& out, const uint8_t* wanted = nullptr, bool* filled = nullptr);

}  // namespace mero
