#include "platform/utf8.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "platform/cp1251.h"

namespace vestrel::platform {
namespace {

TEST(Utf8, DecodesKnownCharactersOfEveryLength) {
  struct Case {
    const char* bytes;
    char32_t code_point;
    std::size_t length;
  };
  const Case cases[] = {
      {"A", U'A', 1},
      {"\x7F", 0x7F, 1},
      {"\xC2\x80", 0x80, 2},
      {"\xD0\x96", 0x0416, 2},
      {"\xDF\xBF", 0x7FF, 2},
      {"\xE0\xA0\x80", 0x800, 3},
      {"\xE2\x84\x96", 0x2116, 3},
      {"\xEF\xBF\xBD", 0xFFFD, 3},
      {"\xF0\x9F\x98\x80", 0x1F600, 4},
      {"\xF4\x8F\xBF\xBF", 0x10FFFF, 4},
  };
  for (const Case& c : cases) {
    const Utf8Step step = DecodeUtf8(std::string(c.bytes) + "tail");
    ASSERT_TRUE(step.code_point) << c.bytes;
    EXPECT_EQ(*step.code_point, c.code_point) << c.bytes;
    EXPECT_EQ(step.length, c.length) << c.bytes;
  }
  EXPECT_EQ(*DecodeUtf8(std::string("\0x", 2)).code_point, U'\0');
}

TEST(Utf8, RejectsIllFormedSequencesAndSaysHowFarTheDamageGoes) {
  struct Case {
    std::string bytes;
    std::size_t length;
  };
  const Case cases[] = {
      {"\x80", 1},  // a continuation byte without a lead
      {"\xBF"
       "A",
       1},                          //
      {"\xF8\x88\x80\x80\x80", 1},  // five-byte form
      {"\xFF", 1},                  //
      {"\xC0\x80", 2},              // overlong NUL
      {"\xC1\xBF", 2},              // overlong U+007F
      {"\xE0\x80\x80", 3},          // overlong in three bytes
      {"\xF0\x8F\xBF\xBF", 4},      // overlong U+FFFF
      {"\xED\xA0\x80", 3},          // a surrogate
      {"\xED\xBF\xBF", 3},          //
      {"\xF4\x90\x80\x80", 4},      // above U+10FFFF
      {"\xE2\x82", 2},              // cut off at the end
      {"\xD0", 1},                  //
      {"\xE2"
       "A",
       1},  // a continuation missing
      {"\xF0\x9F\x98"
       "A",
       3},  //
  };
  for (const Case& c : cases) {
    const Utf8Step step = DecodeUtf8(c.bytes);
    EXPECT_FALSE(step.code_point) << testing::PrintToString(c.bytes);
    EXPECT_EQ(step.length, c.length) << testing::PrintToString(c.bytes);
    EXPECT_FALSE(IsWellFormedUtf8("ok" + c.bytes));
    EXPECT_FALSE(Utf8ToCodePoints(c.bytes));
    EXPECT_FALSE(Utf8ToUtf16(c.bytes));
  }
}

TEST(Utf8, EveryCodePointSurvivesEncodingAndDecoding) {
  for (char32_t cp = 0; cp <= 0x10FFFF; ++cp) {
    if (cp >= 0xD800 && cp <= 0xDFFF) continue;
    std::string bytes;
    AppendUtf8(bytes, cp);
    const std::size_t expected_length = cp < 0x80 ? 1 : cp < 0x800 ? 2 : cp < 0x10000 ? 3 : 4;
    ASSERT_EQ(bytes.size(), expected_length) << std::hex << static_cast<std::uint32_t>(cp);
    const Utf8Step step = DecodeUtf8(bytes);
    ASSERT_TRUE(step.code_point) << std::hex << static_cast<std::uint32_t>(cp);
    ASSERT_EQ(*step.code_point, cp);
    ASSERT_EQ(step.length, expected_length);
  }
}

TEST(Utf8, WholeTexts) {
  const std::string text =
      "Д\xE2\x82\xAC"
      "a\xF0\x9F\x98\x80";  // Д € a 😀
  EXPECT_TRUE(IsWellFormedUtf8(text));
  EXPECT_TRUE(IsWellFormedUtf8(""));
  EXPECT_EQ(*Utf8ToCodePoints(text), (std::u32string{0x0414, 0x20AC, U'a', 0x1F600}));
  EXPECT_EQ(*Utf8ToUtf16(text), (std::u16string{0x0414, 0x20AC, u'a', 0xD83D, 0xDE00}));
  EXPECT_EQ(*Utf8ToUtf16(""), u"");
}

// The code page conversion replaces a damaged sequence by one '?' and goes on
// with the next character.
TEST(Utf8, Cp1251ConversionReplacesEachDamagedSequenceOnce) {
  EXPECT_EQ(Cp1251FromUtf8("\xE2\x82"
                           "Ж"),
            "?\xC6");
  EXPECT_EQ(Cp1251FromUtf8("a\x80"
                           "b"),
            "a?b");
  EXPECT_EQ(Cp1251FromUtf8("\xC0\x80"), "?");
  EXPECT_EQ(Cp1251FromUtf8("Ж\xD0"), "\xC6?");
  EXPECT_EQ(Cp1251FromUtf8("\xF0\x9F\x98\x80№"), "?\xB9");  // no 😀 in the code page
  EXPECT_EQ(Cp1251ToUtf8("\xC6\xB9\x98"), "Ж№\xEF\xBF\xBD");
}

}  // namespace
// The one escaper of received bytes: the --log file and the archive's
// listings show a chunk alike.
TEST(Cp1251, ShownBytesIsOneReadableLine) {
  const struct {
    std::string bytes;
    std::string shown;
  } rows[] = {
      {"\r\n+CMGS: 12\r\n", "\\r\\n+CMGS: 12\\r\\n"},
      {"a\tb\\c", "a\\tb\\\\c"},
      {std::string("\x1A\x00\x7F", 3), "\\x1A\\x00\\x7F"},
      {"\xCF\xF0\xE8\x98", "При\\x98"},
  };
  for (const auto& row : rows) EXPECT_EQ(ShownBytes(row.bytes), row.shown) << row.shown;
}

}  // namespace vestrel::platform
