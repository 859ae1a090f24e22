#include "messaging/sms_coding.h"

#include "messaging/hex_digits.h"

#include <array>

namespace vestrel {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

// The default alphabet, septet value -> character; the escape has none.
constexpr std::array<char32_t, 128> kDefaultAlphabet = {
    U'@',      U'\u00A3', U'$',      U'\u00A5', U'\u00E8', U'\u00E9', U'\u00F9', U'\u00EC',
    U'\u00F2', U'\u00C7', U'\n',     U'\u00D8', U'\u00F8', U'\r',     U'\u00C5', U'\u00E5',
    U'\u0394', U'_',      U'\u03A6', U'\u0393', U'\u039B', U'\u03A9', U'\u03A0', U'\u03A8',
    U'\u03A3', U'\u0398', U'\u039E', 0,         U'\u00C6', U'\u00E6', U'\u00DF', U'\u00C9',
    U' ',      U'!',      U'"',      U'#',      U'\u00A4', U'%',      U'&',      U'\'',
    U'(',      U')',      U'*',      U'+',      U',',      U'-',      U'.',      U'/',
    U'0',      U'1',      U'2',      U'3',      U'4',      U'5',      U'6',      U'7',
    U'8',      U'9',      U':',      U';',      U'<',      U'=',      U'>',      U'?',
    U'\u00A1', U'A',      U'B',      U'C',      U'D',      U'E',      U'F',      U'G',
    U'H',      U'I',      U'J',      U'K',      U'L',      U'M',      U'N',      U'O',
    U'P',      U'Q',      U'R',      U'S',      U'T',      U'U',      U'V',      U'W',
    U'X',      U'Y',      U'Z',      U'\u00C4', U'\u00D6', U'\u00D1', U'\u00DC', U'\u00A7',
    U'\u00BF', U'a',      U'b',      U'c',      U'd',      U'e',      U'f',      U'g',
    U'h',      U'i',      U'j',      U'k',      U'l',      U'm',      U'n',      U'o',
    U'p',      U'q',      U'r',      U's',      U't',      U'u',      U'v',      U'w',
    U'x',      U'y',      U'z',      U'\u00E4', U'\u00F6', U'\u00F1', U'\u00FC', U'\u00E0',
};

struct Extension {
  std::uint8_t septet;
  char32_t code_point;
};

// The extension table, reached through the escape.
constexpr Extension kExtension[] = {
    {0x0A, U'\f'}, {0x14, U'^'}, {0x28, U'{'}, {0x29, U'}'}, {0x2F, U'\\'},
    {0x3C, U'['},  {0x3D, U'~'}, {0x3E, U']'}, {0x40, U'|'}, {0x65, U'\u20AC'},
};

}  // namespace

std::vector<std::uint8_t> Gsm7Septets(char32_t code_point) {
  if (code_point == 0) return {};  // 0 marks the escape's empty place
  for (std::size_t i = 0; i < kDefaultAlphabet.size(); ++i)
    if (kDefaultAlphabet[i] == code_point) return {static_cast<std::uint8_t>(i)};
  for (const Extension& e : kExtension)
    if (e.code_point == code_point) return {kGsm7Escape, e.septet};
  return {};
}

std::optional<std::vector<std::uint8_t>> TextToGsm7(std::u32string_view text) {
  std::vector<std::uint8_t> septets;
  septets.reserve(text.size());
  for (char32_t c : text) {
    const auto s = Gsm7Septets(c);
    if (s.empty()) return std::nullopt;
    septets.insert(septets.end(), s.begin(), s.end());
  }
  return septets;
}

std::u32string Gsm7ToText(const std::vector<std::uint8_t>& septets) {
  std::u32string text;
  text.reserve(septets.size());
  for (std::size_t i = 0; i < septets.size(); ++i) {
    const std::uint8_t s = septets[i] & 0x7F;
    if (s != kGsm7Escape) {
      text += kDefaultAlphabet[s];
      continue;
    }
    if (i + 1 == septets.size()) {
      text += U' ';  // an escape with nothing after it
      break;
    }
    const std::uint8_t next = septets[++i] & 0x7F;
    char32_t c = next == kGsm7Escape ? U' ' : kDefaultAlphabet[next];
    for (const Extension& e : kExtension)
      if (e.septet == next) c = e.code_point;
    text += c;
  }
  return text;
}

std::string PackSeptets(const std::vector<std::uint8_t>& septets, int fill_bits) {
  const std::size_t bits = static_cast<std::size_t>(fill_bits) + 7 * septets.size();
  std::string octets((bits + 7) / 8, '\0');
  std::size_t at = static_cast<std::size_t>(fill_bits);
  for (std::uint8_t s : septets) {
    const unsigned value = s & 0x7Fu;
    const std::size_t shift = at % 8;
    octets[at / 8] =
        static_cast<char>(static_cast<unsigned char>(octets[at / 8]) | ((value << shift) & 0xFF));
    if (shift > 1)
      octets[at / 8 + 1] = static_cast<char>(static_cast<unsigned char>(octets[at / 8 + 1]) |
                                             (value >> (8 - shift)));
    at += 7;
  }
  return octets;
}

std::vector<std::uint8_t> UnpackSeptets(std::string_view octets, std::size_t count, int fill_bits) {
  auto octet = [&octets](std::size_t i) -> unsigned {
    return i < octets.size() ? static_cast<unsigned char>(octets[i]) : 0u;
  };
  std::vector<std::uint8_t> septets;
  septets.reserve(count);
  std::size_t at = static_cast<std::size_t>(fill_bits);
  for (std::size_t k = 0; k < count; ++k, at += 7) {
    const unsigned pair = octet(at / 8) | (octet(at / 8 + 1) << 8);
    septets.push_back(static_cast<std::uint8_t>((pair >> (at % 8)) & 0x7F));
  }
  return septets;
}

std::u16string TextToUtf16(std::u32string_view text) {
  std::u16string units;
  units.reserve(text.size());
  for (char32_t c : text) {
    if (c >= 0x10000 && c <= 0x10FFFF) {
      const char32_t v = c - 0x10000;
      units += static_cast<char16_t>(0xD800 + (v >> 10));
      units += static_cast<char16_t>(0xDC00 + (v & 0x3FF));
    } else {
      units += static_cast<char16_t>(c > 0x10FFFF ? kReplacement : c);
    }
  }
  return units;
}

std::string Utf16ToOctets(std::u16string_view units) {
  std::string octets;
  octets.reserve(units.size() * 2);
  for (char16_t u : units) {
    octets += static_cast<char>(u >> 8);
    octets += static_cast<char>(u & 0xFF);
  }
  return octets;
}

std::u32string OctetsToText(std::string_view octets) {
  std::u32string text;
  text.reserve(octets.size() / 2 + 1);
  auto unit = [&octets](std::size_t i) -> char32_t {
    return static_cast<char32_t>(static_cast<unsigned char>(octets[i]) << 8 |
                                 static_cast<unsigned char>(octets[i + 1]));
  };
  std::size_t i = 0;
  for (; i + 1 < octets.size(); i += 2) {
    const char32_t u = unit(i);
    if (u >= 0xD800 && u <= 0xDBFF && i + 3 < octets.size()) {
      const char32_t low = unit(i + 2);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        text += 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00);
        i += 2;
        continue;
      }
    }
    text += (u >= 0xD800 && u <= 0xDFFF) ? kReplacement : u;
  }
  if (i < octets.size()) text += kReplacement;
  return text;
}

std::string OctetsToHex(std::string_view octets) {
  std::string hex;
  hex.reserve(octets.size() * 2);
  for (char c : octets) {
    const auto b = static_cast<unsigned char>(c);
    hex += kHexDigits[b >> 4];
    hex += kHexDigits[b & 0xF];
  }
  return hex;
}

std::optional<std::string> HexToOctets(std::string_view hex) {
  if (hex.size() % 2 != 0) return std::nullopt;
  std::string octets;
  octets.reserve(hex.size() / 2);
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    const int high = HexValue(hex[i]);
    const int low = HexValue(hex[i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    octets += static_cast<char>(high * 16 + low);
  }
  return octets;
}

}  // namespace vestrel
