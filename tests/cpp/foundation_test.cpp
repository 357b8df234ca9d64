// The integer codec, the modified UTF-8 codec and the library's own
// containers, including the two fatal index errors that end the process.

#include <gtest/gtest.h>

#include "foundation/db_array.h"
#include "foundation/db_string.h"
#include "foundation/int32_codec.h"
#include "foundation/modified_utf8.h"
#include "test_support.h"

namespace mero {
namespace {

using test::bytes;

TEST(Int32Codec, LittleEndianOverTheWholeNonNegativeRange) {
  for (const auto& [value, expected] :
       std::vector<std::pair<int32_t, std::string>>{{0, bytes({0, 0, 0, 0})},
                                                    {300, bytes({0x2C, 0x01, 0, 0})},
                                                    {2147483647, bytes({0xFF, 0xFF, 0xFF, 0x7F})},
                                                    {0x01020304, bytes({4, 3, 2, 1})}}) {
    char out[4];
    encodeInt32(value, out);
    EXPECT_EQ(std::string(out, 4), expected) << value;
    EXPECT_EQ(decodeInt32(expected.data()), value);
  }
  // Bytes from a damaged file can decode negative; callers check the sign.
  EXPECT_EQ(decodeInt32(bytes({0xFF, 0xFF, 0xFF, 0xFF}).data()), -1);
}

TEST(DbArray, ResizeKeepsLeadingElementsAndFillsWithEmptyStrings) {
  DbArray<DbString> a;
  EXPECT_EQ(a.size(), 0);
  a.resize(3);
  a.at(0) = "a";
  a.at(1) = "b";
  a.at(2) = "c";
  a.resize(2);
  ASSERT_EQ(a.size(), 2);
  EXPECT_EQ(a.at(1), DbString("b"));
  a.resize(4);
  ASSERT_EQ(a.size(), 4);
  EXPECT_EQ(a.at(0), DbString("a"));
  EXPECT_EQ(a.at(2).length(), 0);
  EXPECT_EQ(a.at(3).length(), 0);
  a.resize(0);
  EXPECT_EQ(a.size(), 0);
}

TEST(DbArray, CopiesAreDeepAndFillConstructionFills) {
  DbArray<uint8_t> flags(3, 7);
  EXPECT_EQ(flags.at(2), 7);
  DbArray<uint8_t> copy(flags);
  copy.at(0) = 1;
  EXPECT_EQ(flags.at(0), 7);
  DbArray<DbString> names;
  names.resize(1);
  names.at(0) = "x";
  DbArray<DbString> other;
  other = names;
  other.at(0) = "y";
  EXPECT_EQ(names.at(0), DbString("x"));
  other = other;  // self-assignment keeps the contents
  EXPECT_EQ(other.at(0), DbString("y"));
}

using DbArrayDeathTest = ::testing::Test;

TEST_F(DbArrayDeathTest, IndexOutsideTheArrayEndsTheProcessWithItsMessage) {
  DbArray<int32_t> a;
  a.resize(3);
  a.at(2) = 5;
  EXPECT_EQ(a.at(2), 5);
  EXPECT_EXIT(a.at(5), ::testing::ExitedWithCode(1), "^Illegal vector index: 5 max index = 2\n$");
  EXPECT_EXIT(a.at(-1), ::testing::ExitedWithCode(1), "^Illegal vector index: -1 max index = 2\n$");
  EXPECT_EXIT(a.at(3), ::testing::ExitedWithCode(1), "^Illegal vector index: 3 max index = 2\n$");
  DbArray<int32_t> empty;
  EXPECT_EXIT(empty.at(0), ::testing::ExitedWithCode(1), "^Illegal vector index: 0 max index = -1\n$");
}

TEST(DbString, AssignmentReusesStorageThatFits) {
  DbString s("0123456789xyzzy");
  s = "abcdefghi";  // capacity 16 stays
  EXPECT_EQ(s.capacity(), 16);
  DbString t;
  EXPECT_EQ(t.length(), 0);
  EXPECT_EQ(t.capacity(), 1);
  EXPECT_STREQ(t.chars(), "");
  t = "123456789";  // capacity 10
  t = "abc";
  EXPECT_EQ(t.capacity(), 10);
  EXPECT_EQ(t.length(), 3);
  t = "abcdefghijklmnopqrst";
  EXPECT_EQ(t.capacity(), 21);
  EXPECT_EQ(t.length(), 20);
  DbString copy(t);
  EXPECT_EQ(copy.capacity(), 21);
  t = t;
  EXPECT_STREQ(t.chars(), "abcdefghijklmnopqrst");
}

TEST(DbString, AppendGrowsExactlyExceptForSingleBytes) {
  DbString a;
  a += DbString("x");
  EXPECT_EQ(a.length(), 1);
  EXPECT_EQ(a.capacity(), 4);
  DbString b;
  b += DbString("xy");
  EXPECT_EQ(b.capacity(), 3);
  const int32_t before = b.capacity();
  b += DbString("");
  EXPECT_EQ(b.capacity(), before);
  b += b;
  EXPECT_STREQ(b.chars(), "xyxy");
  EXPECT_EQ((DbString("ab") + DbString("cd")), DbString("abcd"));
}

TEST(DbString, ComparesAsUnsignedBytesAndFindsSubstrings) {
  EXPECT_TRUE(DbString("abc") == DbString("abc"));
  EXPECT_TRUE(DbString("abc") != DbString("abd"));
  EXPECT_TRUE(DbString("ab") < DbString("abc"));
  EXPECT_TRUE(DbString("abc") < DbString("abd"));
  EXPECT_TRUE(DbString("z") < DbString("\xE9"));
  EXPECT_TRUE(DbString("") < DbString("a"));
  EXPECT_FALSE(DbString("a") < DbString("a"));
  EXPECT_EQ(DbString("abc").indexOf(DbString("bc")), 1);
  EXPECT_EQ(DbString("abc").indexOf(DbString("abc")), 0);
  EXPECT_EQ(DbString("abc").indexOf(DbString("abcd")), -1);
  EXPECT_EQ(DbString("abc").indexOf(DbString("")), 0);
  EXPECT_EQ(DbString("").indexOf(DbString("")), 0);
  // Text stops at the first zero byte of its source.
  EXPECT_EQ(DbString(std::string_view("ab\0cd", 5)).length(), 2);
}

// Each row: stored modified UTF-8 and its standard UTF-8, both ways unless
// the stored text holds a lone surrogate (which leaves as U+FFFD).
TEST(ModifiedUtf8, ConvertsToAndFromUtf8AndRefusesWhatJavaCannotHold) {
  const struct {
    std::string modified, utf8;
    size_t replaced;
    std::u16string javaChars;
  } rows[] = {
      {"plain", "plain", 0, u"plain"},
      {"a\xC0\x80"
       "b",
       std::string("a\0b", 3), 0, std::u16string(u"a\0b", 3)},             // U+0000
      {"Z\xC3\xBC", "Z\xC3\xBC", 0, u"Z\u00FC"},                           // U+00FC
      {"\xE2\x82\xAC", "\xE2\x82\xAC", 0, u"\u20AC"},                      // U+20AC
      {"\xED\xA0\xBD\xED\xB8\x80", "\xF0\x9F\x98\x80", 0, u"\U0001F600"},  // a pair
      {"\xED\xA0\xBD"
       "x",
       "\xEF\xBF\xBD"
       "x",
       1, std::u16string{char16_t{0xD83D}, u'x'}},                               // a lone high surrogate
      {"\xED\xB8\x80", "\xEF\xBF\xBD", 1, std::u16string(1, char16_t{0xDE00})},  // a lone low surrogate
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(::testing::PrintToString(row.modified));
    std::string utf8, modified;
    size_t replaced = 0;
    EXPECT_TRUE(isValidModifiedUtf8(row.modified));
    ASSERT_TRUE(modifiedToUtf8(row.modified, utf8, replaced));
    EXPECT_EQ(utf8, row.utf8);
    EXPECT_EQ(replaced, row.replaced);
    if (row.replaced == 0) {
      EXPECT_TRUE(utf8ToModified(row.utf8, modified) && modified == row.modified);
    }
    std::string fromJava = "kept";
    appendModifiedUtf8(row.javaChars.data(), row.javaChars.size(), fromJava);
    EXPECT_EQ(fromJava, "kept" + row.modified);
  }
  // Overlong forms, four-byte forms, a zero byte and cut-off sequences are
  // not modified UTF-8; each bad byte is repaired to '?' in place.
  for (const std::string& bad :
       std::initializer_list<std::string>{"\xC1\x81", "\xE0\x81\x81", "\xC0\x81", "\xF0\x9F\x98\x80",
                                          std::string("\0", 1), "\xC3", "\xE2\x82", "\x80"}) {
    // Also inside long ASCII runs, which are checked a word at a time.
    for (const std::string& text : {bad, "0123456789" + bad, "01234567" + bad + "0123456789abcdef"}) {
      SCOPED_TRACE(::testing::PrintToString(text));
      std::string repaired = text, out;
      size_t replaced = 0;
      EXPECT_FALSE(isValidModifiedUtf8(text));
      EXPECT_FALSE(modifiedToUtf8(text, out, replaced));
      EXPECT_TRUE(makeValidModifiedUtf8(repaired));
      EXPECT_EQ(repaired.size(), text.size());
      EXPECT_TRUE(isValidModifiedUtf8(repaired));
    }
  }
  // Standard UTF-8 refuses surrogates, overlong forms and code points past U+10FFFF.
  for (const std::string& bad :
       std::initializer_list<std::string>{"\xED\xA0\x80", "\xC0\x80", "\xE0\x81\x81", "\xF4\x90\x80\x80", "\xFF"}) {
    std::string out;
    EXPECT_FALSE(utf8ToModified(bad, out)) << ::testing::PrintToString(bad);
  }
}

using DbStringDeathTest = ::testing::Test;

TEST_F(DbStringDeathTest, IndexOutsideTheTextEndsTheProcessWithItsMessage) {
  DbString s("abc");
  EXPECT_EQ(s.at(2), 'c');
  EXPECT_EXIT(s.at(3), ::testing::ExitedWithCode(1), "^index out of range: 3 string: abc\n$");
  EXPECT_EXIT(s.at(-1), ::testing::ExitedWithCode(1), "^index out of range: -1 string: abc\n$");
}

}  // namespace
}  // namespace mero
