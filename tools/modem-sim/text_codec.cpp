#include "tools/modem-sim/text_codec.h"

#include <array>

namespace vestrel::sim {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

// 3GPP TS 23.038 6.2.1, the default alphabet.
constexpr std::array<char32_t, 128> kGsmDefault = {
    0x0040, 0x00A3, 0x0024, 0x00A5, 0x00E8, 0x00E9, 0x00F9, 0x00EC,  //
    0x00F2, 0x00C7, 0x000A, 0x00D8, 0x00F8, 0x000D, 0x00C5, 0x00E5,  //
    0x0394, 0x005F, 0x03A6, 0x0393, 0x039B, 0x03A9, 0x03A0, 0x03A8,  //
    0x03A3, 0x0398, 0x039E, 0x001B, 0x00C6, 0x00E6, 0x00DF, 0x00C9,  //
    0x0020, 0x0021, 0x0022, 0x0023, 0x00A4, 0x0025, 0x0026, 0x0027,  //
    0x0028, 0x0029, 0x002A, 0x002B, 0x002C, 0x002D, 0x002E, 0x002F,  //
    0x0030, 0x0031, 0x0032, 0x0033, 0x0034, 0x0035, 0x0036, 0x0037,  //
    0x0038, 0x0039, 0x003A, 0x003B, 0x003C, 0x003D, 0x003E, 0x003F,  //
    0x00A1, 0x0041, 0x0042, 0x0043, 0x0044, 0x0045, 0x0046, 0x0047,  //
    0x0048, 0x0049, 0x004A, 0x004B, 0x004C, 0x004D, 0x004E, 0x004F,  //
    0x0050, 0x0051, 0x0052, 0x0053, 0x0054, 0x0055, 0x0056, 0x0057,  //
    0x0058, 0x0059, 0x005A, 0x00C4, 0x00D6, 0x00D1, 0x00DC, 0x00A7,  //
    0x00BF, 0x0061, 0x0062, 0x0063, 0x0064, 0x0065, 0x0066, 0x0067,  //
    0x0068, 0x0069, 0x006A, 0x006B, 0x006C, 0x006D, 0x006E, 0x006F,  //
    0x0070, 0x0071, 0x0072, 0x0073, 0x0074, 0x0075, 0x0076, 0x0077,  //
    0x0078, 0x0079, 0x007A, 0x00E4, 0x00F6, 0x00F1, 0x00FC, 0x00E0,  //
};

constexpr std::uint8_t kEscape = 0x1B;

struct Extension {
  std::uint8_t code;
  char32_t cp;
};
// 3GPP TS 23.038 6.2.1.1, the default extension table.
constexpr std::array<Extension, 10> kGsmExtension = {{
    {0x0A, 0x000C},
    {0x14, 0x005E},
    {0x28, 0x007B},
    {0x29, 0x007D},
    {0x2F, 0x005C},
    {0x3C, 0x005B},
    {0x3D, 0x007E},
    {0x3E, 0x005D},
    {0x40, 0x007C},
    {0x65, 0x20AC},
}};

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = kReplacement;
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

std::u32string Utf8ToCodePoints(std::string_view utf8) {
  std::u32string out;
  std::size_t i = 0;
  while (i < utf8.size()) {
    const auto b = static_cast<unsigned char>(utf8[i]);
    int extra = 0;
    char32_t cp = 0;
    char32_t min = 0;
    if (b < 0x80) {
      cp = b;
    } else if ((b & 0xE0) == 0xC0) {
      extra = 1, cp = b & 0x1F, min = 0x80;
    } else if ((b & 0xF0) == 0xE0) {
      extra = 2, cp = b & 0x0F, min = 0x800;
    } else if ((b & 0xF8) == 0xF0) {
      extra = 3, cp = b & 0x07, min = 0x10000;
    } else {
      out += kReplacement;
      ++i;
      continue;
    }
    std::size_t j = i + 1;
    bool ok = true;
    for (int k = 0; k < extra; ++k, ++j) {
      if (j >= utf8.size() || (static_cast<unsigned char>(utf8[j]) & 0xC0) != 0x80) {
        ok = false;
        break;
      }
      cp = (cp << 6) | (static_cast<unsigned char>(utf8[j]) & 0x3F);
    }
    if (!ok || cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      out += kReplacement;
      i = ok ? j : i + 1;
      continue;
    }
    out += cp;
    i = j;
  }
  return out;
}

std::string CodePointsToUtf8(std::u32string_view code_points) {
  std::string out;
  for (char32_t cp : code_points) AppendUtf8(out, cp);
  return out;
}

std::string Latin1ToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (char c : bytes) AppendUtf8(out, static_cast<unsigned char>(c));
  return out;
}

std::optional<std::string> Utf8ToLatin1(std::string_view utf8) {
  std::string out;
  for (char32_t cp : Utf8ToCodePoints(utf8)) {
    if (cp > 0xFF) return std::nullopt;
    out += static_cast<char>(cp);
  }
  return out;
}

std::string Utf8ToUcs2Bytes(std::string_view utf8) {
  std::string out;
  auto put = [&out](char32_t unit) {
    out += static_cast<char>((unit >> 8) & 0xFF);
    out += static_cast<char>(unit & 0xFF);
  };
  for (char32_t cp : Utf8ToCodePoints(utf8)) {
    if (cp >= 0x10000) {
      cp -= 0x10000;
      put(0xD800 + (cp >> 10));
      put(0xDC00 + (cp & 0x3FF));
    } else {
      put(cp);
    }
  }
  return out;
}

std::string Ucs2BytesToUtf8(std::string_view octets) {
  std::string out;
  std::size_t i = 0;
  auto unit_at = [&octets](std::size_t k) -> char32_t {
    return (static_cast<unsigned char>(octets[k]) << 8) | static_cast<unsigned char>(octets[k + 1]);
  };
  while (i + 1 < octets.size()) {
    char32_t unit = unit_at(i);
    i += 2;
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < octets.size()) {
      const char32_t low = unit_at(i);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        i += 2;
        AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
        continue;
      }
    }
    AppendUtf8(out, unit);  // a lone surrogate becomes U+FFFD there
  }
  if (i < octets.size()) AppendUtf8(out, kReplacement);
  return out;
}

std::string ToHex(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    out += kDigits[b >> 4];
    out += kDigits[b & 0x0F];
  }
  return out;
}

std::optional<std::string> FromHex(std::string_view hex) {
  if (hex.size() % 2 != 0) return std::nullopt;
  std::string out;
  out.reserve(hex.size() / 2);
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    const int hi = HexValue(hex[i]);
    const int lo = HexValue(hex[i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    out += static_cast<char>(hi * 16 + lo);
  }
  return out;
}

std::optional<std::vector<std::uint8_t>> Utf8ToGsm7(std::string_view utf8) {
  std::vector<std::uint8_t> out;
  for (char32_t cp : Utf8ToCodePoints(utf8)) {
    bool found = false;
    // ESC itself is not a character a text can carry.
    for (std::uint8_t code = 0; code < kGsmDefault.size() && !found; ++code) {
      if (code != kEscape && kGsmDefault[code] == cp) {
        out.push_back(code);
        found = true;
      }
    }
    for (const auto& ext : kGsmExtension) {
      if (found) break;
      if (ext.cp == cp) {
        out.push_back(kEscape);
        out.push_back(ext.code);
        found = true;
      }
    }
    if (!found) return std::nullopt;
  }
  return out;
}

std::string Gsm7ToUtf8(const std::vector<std::uint8_t>& septets) {
  std::string out;
  for (std::size_t i = 0; i < septets.size(); ++i) {
    const std::uint8_t code = septets[i] & 0x7F;
    if (code != kEscape) {
      AppendUtf8(out, kGsmDefault[code]);
      continue;
    }
    if (i + 1 >= septets.size()) {
      AppendUtf8(out, 0x00A0);  // a trailing escape shows as a space (TS 23.038 6.2.1.1)
      continue;
    }
    const std::uint8_t next = septets[++i] & 0x7F;
    char32_t cp = kGsmDefault[next];
    for (const auto& ext : kGsmExtension) {
      if (ext.code == next) cp = ext.cp;
    }
    AppendUtf8(out, cp);
  }
  return out;
}

std::string PackSeptets(const std::vector<std::uint8_t>& septets, int fill_bits) {
  std::string out;
  unsigned accumulator = 0;
  int bits = fill_bits;
  for (std::uint8_t s : septets) {
    accumulator |= static_cast<unsigned>(s & 0x7F) << bits;
    bits += 7;
    while (bits >= 8) {
      out += static_cast<char>(accumulator & 0xFF);
      accumulator >>= 8;
      bits -= 8;
    }
  }
  if (bits > 0) out += static_cast<char>(accumulator & 0xFF);
  return out;
}

std::vector<std::uint8_t> UnpackSeptets(std::string_view octets, std::size_t count, int fill_bits) {
  std::vector<std::uint8_t> out;
  out.reserve(count);
  for (std::size_t k = 0; k < count; ++k) {
    const std::size_t bit = fill_bits + k * 7;
    const std::size_t byte = bit / 8;
    const int shift = static_cast<int>(bit % 8);
    if (bit + 7 > octets.size() * 8) break;
    unsigned value = static_cast<unsigned char>(octets[byte]) >> shift;
    if (shift > 1 && byte + 1 < octets.size()) {
      value |= static_cast<unsigned>(static_cast<unsigned char>(octets[byte + 1])) << (8 - shift);
    }
    out.push_back(static_cast<std::uint8_t>(value & 0x7F));
  }
  return out;
}

}  // namespace vestrel::sim
