#pragma once
// Conversions between the modified UTF-8 that the database stores (the bytes
// Java's JNI hands over) and standard UTF-8:
// - U+0000 is C0 80 in modified UTF-8 and a single 00 byte in UTF-8;
// - a supplementary character is a surrogate pair in modified UTF-8, each
//   half a 3-byte sequence, and one 4-byte sequence in UTF-8.
// Everything else is the same bytes, so ASCII text passes straight through.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace mero::tool {

// Well-formed modified UTF-8 without a zero byte: what a Java string can store.
bool isValidModifiedUtf8(std::string_view bytes);

// Appends the standard UTF-8 bytes of one code point (or lone surrogate).
void appendUtf8(uint32_t codePoint, std::string& out);

// Appends the UTF-8 form of a modified UTF-8 value to out. False when the
// value is not well formed. A surrogate without its partner has no UTF-8
// form: it becomes U+FFFD and is counted in replaced.
bool modifiedToUtf8(std::string_view in, std::string& out, size_t& replaced);

// Appends the modified UTF-8 form of a UTF-8 value to out. False when the
// value is not well-formed UTF-8 (overlong forms and surrogates included).
bool utf8ToModified(std::string_view in, std::string& out);

}  // namespace mero::tool
