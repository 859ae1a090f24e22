#include "messaging/ucs2_codec.h"

#include "messaging/hex_digits.h"
#include "platform/cp1251.h"

namespace vestrel {
namespace {

constexpr unsigned char kUnassignedByte = 152;

}  // namespace

std::string TextToUcs2Hex(std::string_view text) {
  std::string hex;
  hex.reserve(text.size() * 4);
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    const unsigned code = byte == kUnassignedByte ? '?' : platform::Cp1251ToUnicode(byte);
    for (int shift = 12; shift >= 0; shift -= 4) hex += kHexDigits[(code >> shift) & 0xF];
  }
  return hex;
}

unsigned char Ucs2CodeToByte(unsigned code) {
  if (code <= 126) return static_cast<unsigned char>(code);
  if (code == 127) return ' ';
  // Everything from here on that Windows-1251 has lies above 127 in it.
  const auto byte = platform::UnicodeToCp1251(code);
  return byte ? *byte : static_cast<unsigned char>(' ');
}

std::string Ucs2HexToText(std::string_view hex) {
  std::string text;
  text.reserve(hex.size() / 4 + 1);
  for (std::size_t start = 0; start < hex.size(); start += 4) {
    const std::string_view group = hex.substr(start, 4);
    unsigned code = 0;
    for (char c : group) {
      const int digit = HexValue(c);
      if (digit < 0) return std::string(hex);
      code = code * 16 + static_cast<unsigned>(digit);
    }
    text += static_cast<char>(Ucs2CodeToByte(code));
  }
  return text;
}

}  // namespace vestrel
