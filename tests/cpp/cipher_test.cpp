// The field cipher and upper-casing for search. (The files' bytes are
// checked by the shared scenarios, through the library itself.)

#include <gtest/gtest.h>

#include "engine/field_cipher.h"
#include "test_support.h"

namespace mero {
namespace {

using test::bytes;

std::string encoded(const FieldCipher& cipher, std::string value) {
  cipher.encode(value.data(), value.size(), value.data());
  return value;
}

TEST(FieldCipher, AddsTheReversedKeyRestartingAtEveryValue) {
  const FieldCipher cipher("AB");  // reversed: k[0] = 'B' (0x42), k[1] = 'A' (0x41)
  EXPECT_EQ(cipher.reversedKey(), "BA");
  EXPECT_EQ(encoded(cipher, bytes({1, 2, 3})), bytes({0x43, 0x43, 0x45}));
  EXPECT_EQ(encoded(cipher, ""), "");
  // Equal values encipher equally wherever they stand.
  EXPECT_EQ(encoded(cipher, "same"), encoded(cipher, "same"));
}

TEST(FieldCipher, WrapsModulo256AndCanProduceZeroBytes) {
  const FieldCipher cipher("\x01");
  EXPECT_EQ(encoded(cipher, "\xFF"), std::string(1, '\0'));
  std::string back = std::string(1, '\0');
  cipher.decode(back.data(), 1, back.data());
  EXPECT_EQ(back, "\xFF");
}

TEST(FieldCipher, DecodeInvertsEncodeForEveryByteAndKeyLength) {
  std::string all;
  for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
  for (const std::string key : {"", "k", "a longer key than most values", "\xC3\xA9t\xC3\xA9"}) {
    const FieldCipher cipher(key);
    std::string text = encoded(cipher, all);
    cipher.decode(text.data(), text.size(), text.data());
    EXPECT_EQ(text, all) << key;
  }
  // An empty key leaves values as they are.
  EXPECT_EQ(encoded(FieldCipher(""), "plain"), "plain");
}

TEST(UpperCase, ChangesAsciiLettersOnly) {
  std::string s = "abcXYZ09_-\xC3\xA9\xE9z{`";
  upperCase(s.data(), s.size());
  EXPECT_EQ(s, "ABCXYZ09_-\xC3\xA9\xE9Z{`");
}

}  // namespace
}  // namespace mero
