// The modified UTF-8 codec that JNI and the tool share, on any bytes.
//
// Repairing bytes into valid modified UTF-8 before they become a Java
// String (a value deciphered with the wrong key can hold any bytes) keeps
// the length, leaves valid text untouched, always yields text that passes
// the check, and finds nothing to do the second time. What passes the check
// reads back exactly as the JVM reads it: decoded into UTF-16 and encoded
// again, it gives the same bytes.
//
// The conversions to and from standard UTF-8 agree with the check and undo
// each other: valid text without a lone surrogate goes to UTF-8 and back
// unchanged, and whatever UTF-8 is accepted comes back as it went in.

#include <string>
#include <vector>

#include "foundation/modified_utf8.h"
#include "fuzz_support.h"

namespace {

// Modified UTF-8 as the JVM reads and writes it: one to three bytes per
// UTF-16 unit, U+0000 as C0 80, nothing longer.
std::vector<uint16_t> decode(const std::string& bytes) {
  std::vector<uint16_t> units;
  for (size_t i = 0; i < bytes.size();) {
    const auto c = static_cast<unsigned char>(bytes[i]);
    if (c < 0x80) {
      units.push_back(c);
      i += 1;
    } else if (c < 0xE0) {
      units.push_back(static_cast<uint16_t>(((c & 0x1F) << 6) | (bytes[i + 1] & 0x3F)));
      i += 2;
    } else {
      units.push_back(static_cast<uint16_t>(((c & 0x0F) << 12) | ((bytes[i + 1] & 0x3F) << 6) | (bytes[i + 2] & 0x3F)));
      i += 3;
    }
  }
  return units;
}

std::string encode(const std::vector<uint16_t>& units) {
  std::string out;
  for (const uint16_t u : units) {
    if (u != 0 && u < 0x80) {
      out.push_back(static_cast<char>(u));
    } else if (u < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (u >> 6)));
      out.push_back(static_cast<char>(0x80 | (u & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xE0 | (u >> 12)));
      out.push_back(static_cast<char>(0x80 | ((u >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (u & 0x3F)));
    }
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string original(reinterpret_cast<const char*>(data), size);
  std::string repaired = original;
  const bool replaced = mero::makeValidModifiedUtf8(repaired);
  FUZZ_CHECK(repaired.size() == original.size());
  FUZZ_CHECK(mero::isValidModifiedUtf8(repaired));
  FUZZ_CHECK(replaced == !mero::isValidModifiedUtf8(original));
  FUZZ_CHECK(replaced || repaired == original);
  FUZZ_CHECK(repaired.find('\0') == std::string::npos);
  FUZZ_CHECK(encode(decode(repaired)) == repaired);
  std::string again = repaired;
  FUZZ_CHECK(!mero::makeValidModifiedUtf8(again) && again == repaired);
  // Only replaced bytes change, and each becomes '?'.
  for (size_t i = 0; i < size; ++i) FUZZ_CHECK(repaired[i] == original[i] || repaired[i] == '?');

  std::string utf8, back;
  size_t lone = 0;
  FUZZ_CHECK(mero::modifiedToUtf8(original, utf8, lone) == !replaced);
  if (!replaced && lone == 0) FUZZ_CHECK(mero::utf8ToModified(utf8, back) && back == original);
  std::string modified, again8;
  if (mero::utf8ToModified(original, modified)) {
    FUZZ_CHECK(mero::isValidModifiedUtf8(modified));
    lone = 0;
    FUZZ_CHECK(mero::modifiedToUtf8(modified, again8, lone) && lone == 0 && again8 == original);
  }
  return 0;
}
