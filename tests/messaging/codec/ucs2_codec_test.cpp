#include "messaging/ucs2_codec.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/cp1251.h"
#include "platform/utf8.h"

namespace vestrel {
namespace {

std::string W(const char* utf8) {
  return platform::Cp1251FromUtf8(utf8);
}

// Code points of a UTF-8 string, so that the expected table comes from the
// printed chart, not from the code page table under test.
std::vector<unsigned> CodePoints(const std::string& utf8) {
  const auto code_points = platform::Utf8ToCodePoints(utf8);
  if (!code_points) return {};
  return std::vector<unsigned>(code_points->begin(), code_points->end());
}

// Windows-1251 bytes 0x80..0xBF as they are printed in the code page chart;
// the unassigned 0x98 is written as "?", which is what the encoder sends.
const char kHighHalfChart[] =
    "ЂЃ‚ѓ„…†‡€‰Љ‹ЊЌЋЏ"
    "ђ‘’“”•–—?™љ›њќћџ"
    "\u00A0ЎўЈ¤Ґ¦§Ё©Є«¬\u00AD®Ї"
    "°±Ііґµ¶·ё№є»јЅѕї";

std::string Hex4(unsigned code) {
  char buffer[8];
  std::snprintf(buffer, sizeof buffer, "%04X", code);
  return buffer;
}

unsigned ExpectedCode(unsigned byte) {
  static const std::vector<unsigned> high = CodePoints(kHighHalfChart);
  if (byte < 0x80) return byte;
  if (byte >= 0xC0) return 0x0410 + (byte - 0xC0);
  return high.at(byte - 0x80);
}

TEST(Ucs2Codec, ChartHasSixtyFourEntries) {
  ASSERT_EQ(CodePoints(kHighHalfChart).size(), 64u);
}

TEST(Ucs2Codec, EncodesEveryByteAsItsCodePoint) {
  for (unsigned b = 0; b < 256; ++b) {
    const std::string one(1, static_cast<char>(b));
    EXPECT_EQ(TextToUcs2Hex(one), Hex4(ExpectedCode(b))) << "byte " << b;
  }
  EXPECT_EQ(TextToUcs2Hex(std::string(1, '\x98')), "003F");
  // All 256 bytes at once: 4 digits each, in order.
  std::string all;
  std::string expected;
  for (unsigned b = 0; b < 256; ++b) {
    all += static_cast<char>(b);
    expected += Hex4(ExpectedCode(b));
  }
  EXPECT_EQ(TextToUcs2Hex(all), expected);
}

TEST(Ucs2Codec, DecodesEveryByteBack) {
  for (unsigned b = 0; b < 256; ++b) {
    const std::string text = Ucs2HexToText(Hex4(ExpectedCode(b)));
    ASSERT_EQ(text.size(), 1u);
    const auto got = static_cast<unsigned char>(text[0]);
    if (b == 127)
      EXPECT_EQ(got, ' ');
    else if (b == 152)
      EXPECT_EQ(got, '?');
    else
      EXPECT_EQ(got, b) << "code " << Hex4(ExpectedCode(b));
  }
}

TEST(Ucs2Codec, EveryOtherCodeDecodesToASpace) {
  // Over the whole 16-bit range, only the code points of Windows-1251 (less
  // 007F) give a byte other than a space, and each gives its own byte.
  int non_space = 0;
  for (unsigned code = 0; code <= 0xFFFF; ++code) {
    const std::string text = Ucs2HexToText(Hex4(code));
    ASSERT_EQ(text.size(), 1u);
    const auto got = static_cast<unsigned char>(text[0]);
    if (got == ' ') continue;
    ++non_space;
    EXPECT_EQ(ExpectedCode(got), code) << "code " << Hex4(code);
  }
  EXPECT_EQ(non_space, 255 - 1 - 1);  // no space, no 007F, no unassigned 152
}

TEST(Ucs2Codec, KnownAnswers) {
  EXPECT_EQ(TextToUcs2Hex(""), "");
  EXPECT_EQ(Ucs2HexToText(""), "");
  EXPECT_EQ(TextToUcs2Hex("A"), "0041");
  EXPECT_EQ(TextToUcs2Hex(W("Привет")), "041F04400438043204350442");
  EXPECT_EQ(TextToUcs2Hex(W("Тест 1")), "042204350441044200200031");
  EXPECT_EQ(TextToUcs2Hex(W("ё")), "0451");
  EXPECT_EQ(TextToUcs2Hex(W("Ё")), "0401");
  EXPECT_EQ(TextToUcs2Hex(W("№")), "2116");
  EXPECT_EQ(TextToUcs2Hex(W("«")), "00AB");
  EXPECT_EQ(TextToUcs2Hex(W("—")), "2014");
  EXPECT_EQ(TextToUcs2Hex(W("Ї")), "0407");
  EXPECT_EQ(TextToUcs2Hex(W("Ђ")), "0402");
  EXPECT_EQ(TextToUcs2Hex("\r\n"), "000D000A");

  EXPECT_EQ(Ucs2HexToText("000D000A"), "\r\n");
  EXPECT_EQ(Ucs2HexToText("0410"), W("А"));
  EXPECT_EQ(Ucs2HexToText("044F"), W("я"));
  EXPECT_EQ(Ucs2HexToText("044f"), W("я"));
  EXPECT_EQ(Ucs2HexToText("0401"), W("Ё"));
  EXPECT_EQ(Ucs2HexToText("0451"), W("ё"));
  EXPECT_EQ(Ucs2HexToText("0041"), "A");
  EXPECT_EQ(Ucs2HexToText("2116"), W("№"));
  EXPECT_EQ(Ucs2HexToText("00ab"), W("«"));
  EXPECT_EQ(Ucs2HexToText("0407"), W("Ї"));
  EXPECT_EQ(Ucs2HexToText("00A0"), "\xA0");
  EXPECT_EQ(Ucs2HexToText("00E9"), " ");
  EXPECT_EQ(Ucs2HexToText("007F"), " ");
  EXPECT_EQ(Ucs2HexToText("0400"), " ");
  EXPECT_EQ(Ucs2HexToText("0450"), " ");  // ѐ, absent from the code page
  EXPECT_EQ(Ucs2HexToText("FFFD"), " ");
  EXPECT_EQ(Ucs2HexToText("003F"), "?");
}

TEST(Ucs2Codec, GroupsAndPlainText) {
  EXPECT_EQ(Ucs2HexToText("Hello"), "Hello");
  EXPECT_EQ(Ucs2HexToText("123"), " ");  // 0x123
  EXPECT_EQ(Ucs2HexToText("0410041"), W("А") + "A");
  EXPECT_EQ(Ucs2HexToText("0410 041"), "0410 041");
  EXPECT_EQ(Ucs2HexToText("04100"), W("А") + std::string(1, '\0'));
  EXPECT_EQ(Ucs2HexToText("04100x41"), "04100x41");
  EXPECT_EQ(Ucs2HexToText("+041"), "+041");
  EXPECT_EQ(Ucs2HexToText("041F0440043804320435044\r"), "041F0440043804320435044\r");
  EXPECT_EQ(Ucs2HexToText(W("Привет")), W("Привет"));
  // Round trip of a mixed text.
  const std::string text = W("Ёлка «№ 5» — ёж, ЇЂ\r\nA'b");
  EXPECT_EQ(Ucs2HexToText(TextToUcs2Hex(text)), text);
}

}  // namespace
}  // namespace vestrel
