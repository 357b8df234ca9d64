#pragma once
// Modified UTF-8, the form in which the database stores text (the bytes that
// Java's JNI hands over and takes back), and its conversions to and from
// standard UTF-8. It differs from UTF-8 in two ways:
// - U+0000 is C0 80, so a stored value never holds a zero byte;
// - a supplementary character is a surrogate pair, each half a three-byte
//   sequence; there are no four-byte sequences.
// Every other character takes its shortest form only: the JVM would read an
// overlong form (C1 81, E0 81 81) as a different, shorter character. Lone
// surrogates are well formed, as in any Java string.
// Everything else is the same bytes, so ASCII text passes straight through.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace mero {

// Well-formed modified UTF-8: what a Java string can hold.
bool isValidModifiedUtf8(std::string_view bytes);

// Replaces each byte that does not begin a well-formed sequence by '?', so
// the length never changes. True when anything was replaced.
bool makeValidModifiedUtf8(std::string& bytes);

// Appends the standard UTF-8 bytes of one code point (or lone surrogate).
void appendUtf8(uint32_t codePoint, std::string& out);

// Appends the UTF-8 form of a modified UTF-8 value to out. False when the
// value is not well formed. A surrogate without its partner has no UTF-8
// form: it becomes U+FFFD and is counted in replaced.
bool modifiedToUtf8(std::string_view in, std::string& out, size_t& replaced);

// Appends the modified UTF-8 form of a UTF-8 value to out. False when the
// value is not well-formed UTF-8 (overlong forms and surrogates included).
bool utf8ToModified(std::string_view in, std::string& out);

// Appends the modified UTF-8 form of n UTF-16 code units (a Java string's
// chars, lone surrogates included), the same bytes the JVM would give.
void appendModifiedUtf8(const char16_t* units, size_t n, std::string& out);

}  // namespace mero
