#include "platform/cp1251.h"

#include <array>
#include <cstdio>

#include "platform/utf8.h"

namespace vestrel::platform {
namespace {

// Bytes 0x80..0xBF; 0xC0..0xFF are U+0410..U+044F and 0x00..0x7F are ASCII.
constexpr std::array<char16_t, 64> kHighTable = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,  // 88
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    0xFFFD, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,  // 98
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,  // A0
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,  // A8
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,  // B0
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,  // B8
};

}  // namespace

char16_t Cp1251ToUnicode(unsigned char byte) {
  if (byte < 0x80) return byte;
  if (byte >= 0xC0) return static_cast<char16_t>(0x0410 + (byte - 0xC0));
  return kHighTable[byte - 0x80];
}

std::optional<unsigned char> UnicodeToCp1251(char32_t cp) {
  if (cp < 0x80) return static_cast<unsigned char>(cp);
  if (cp >= 0x0410 && cp <= 0x044F) return static_cast<unsigned char>(0xC0 + (cp - 0x0410));
  if (cp == 0xFFFD) return std::nullopt;
  for (std::size_t i = 0; i < kHighTable.size(); ++i) {
    if (kHighTable[i] == cp) return static_cast<unsigned char>(0x80 + i);
  }
  return std::nullopt;
}

std::string Cp1251FromUtf8(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  while (!utf8.empty()) {
    const Utf8Step step = DecodeUtf8(utf8);
    const auto byte = step.code_point ? UnicodeToCp1251(*step.code_point) : std::nullopt;
    out += byte ? static_cast<char>(*byte) : '?';
    utf8.remove_prefix(step.length);
  }
  return out;
}

std::string Cp1251ToUtf8(std::string_view cp1251) {
  std::string out;
  out.reserve(cp1251.size() * 2);
  for (char c : cp1251) AppendUtf8(out, Cp1251ToUnicode(static_cast<unsigned char>(c)));
  return out;
}

std::string ShownBytes(std::string_view cp1251) {
  std::string out;
  for (char b : cp1251) {
    const auto byte = static_cast<unsigned char>(b);
    if (b == '\\') {
      out += "\\\\";
    } else if (b == '\r') {
      out += "\\r";
    } else if (b == '\n') {
      out += "\\n";
    } else if (b == '\t') {
      out += "\\t";
    } else if (byte < 0x20 || byte == 0x7F || byte == 0x98) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
      out += escaped;
    } else {
      out += Cp1251ToUtf8(std::string_view(&b, 1));
    }
  }
  return out;
}

}  // namespace vestrel::platform
