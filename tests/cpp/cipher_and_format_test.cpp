// The field cipher, upper-casing for search, and the record image layout.

#include <gtest/gtest.h>

#include "engine/field_cipher.h"
#include "engine/record_format.h"
#include "test_support.h"

namespace mero {
namespace {

using test::bytes;
using test::le32;

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

TEST(RecordFormat, ImageLayoutAndRoundTrip) {
  const FieldCipher cipher("");
  std::string image;
  encodeRecord(cipher, test::values({"ab", "", "c"}), image);
  EXPECT_EQ(image, le32(4 + 6 + 4 + 5) + le32(2) + "ab" + le32(0) + le32(1) + "c");
  EXPECT_EQ(recordImageSize(test::values({"ab", "", "c"})), image.size());

  FieldValues back;
  ASSERT_TRUE(decodeRecordBody(cipher, 3, image.data() + 4, image.size() - 4, back));
  EXPECT_EQ(test::toStrings(back), (std::vector<std::string>{"ab", "", "c"}));
  // All-empty records are 4 + 4 * fieldCount bytes.
  encodeRecord(cipher, test::values({"", ""}), image);
  EXPECT_EQ(image.size(), 12u);
}

TEST(RecordFormat, MalformedBodiesAreRefused) {
  const FieldCipher cipher("");
  FieldValues out;
  const std::string body = le32(2) + "ab" + le32(5) + "c";
  EXPECT_FALSE(decodeRecordBody(cipher, 2, body.data(), body.size(), out));  // runs past the body
  EXPECT_FALSE(decodeRecordBody(cipher, 3, body.data(), 7, out));            // too short for 3 fields
  const std::string negative = le32(-1);
  EXPECT_FALSE(decodeRecordBody(cipher, 1, negative.data(), negative.size(), out));
  // Trailing bytes after the last field are ignored.
  const std::string trailing = le32(1) + "x" + "junk";
  ASSERT_TRUE(decodeRecordBody(cipher, 1, trailing.data(), trailing.size(), out));
  EXPECT_EQ(out[0], "x");
}

}  // namespace
}  // namespace mero
