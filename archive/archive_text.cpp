// Text helpers of the archive: case folding for the filter and the since-date.

#include <cstdint>
#include <cstdio>

#include "archive/archive.h"

namespace vestrel::archive {
namespace {

char32_t LowerOf(char32_t c) {
  if (c >= U'A' && c <= U'Z') return c + 0x20;
  if (c < 0xC0) return c;
  if (c <= 0xDE) return c == 0xD7 ? c : c + 0x20;                  // À..Þ, not ×
  if (c >= 0x0391 && c <= 0x03AB && c != 0x03A2) return c + 0x20;  // Greek capitals
  if (c >= 0x0400 && c <= 0x040F) return c + 0x50;                 // Ѐ..Џ
  if (c >= 0x0410 && c <= 0x042F) return c + 0x20;                 // А..Я
  // Historic and non-Russian Cyrillic letters come in capital/small pairs.
  if ((c >= 0x0460 && c <= 0x0481) || (c >= 0x048A && c <= 0x04BF) || (c >= 0x04D0 && c <= 0x052F))
    return (c % 2 == 0) ? c + 1 : c;
  if (c == 0x04C0) return 0x04CF;
  if (c >= 0x04C1 && c <= 0x04CE) return (c % 2 == 1) ? c + 1 : c;
  return c;
}

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// The code point at text[i] and its length, or a length of 0 for a byte that
// does not start a well-formed sequence.
std::pair<char32_t, std::size_t> Decode(std::string_view text, std::size_t i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  if (lead < 0x80) return {lead, 1};
  std::size_t length = 0;
  char32_t c = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, c = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, c = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, c = lead & 0x07;
  } else {
    return {0, 0};
  }
  if (i + length > text.size()) return {0, 0};
  for (std::size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return {0, 0};
    c = (c << 6) | (byte(i + k) & 0x3F);
  }
  const char32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (c < smallest[length] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return {0, 0};
  return {c, length};
}

bool Digits(std::string_view text, std::size_t at, std::size_t count, int& value) {
  if (at + count > text.size()) return false;
  value = 0;
  for (std::size_t i = at; i < at + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    value = value * 10 + (text[i] - '0');
  }
  return true;
}

}  // namespace

std::string FoldCase(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size();) {
    const auto [c, length] = Decode(utf8, i);
    if (length == 0) {
      out += utf8[i++];
      continue;
    }
    AppendUtf8(out, LowerOf(c));
    i += length;
  }
  return out;
}

std::string SearchFold(std::string_view utf8) {
  std::string folded = FoldCase(utf8);
  // ё (D1 91) and е (D0 B5) are both two bytes: replaced in place.
  for (std::size_t i = folded.find("\xD1\x91"); i != std::string::npos;
       i = folded.find("\xD1\x91", i + 2))
    folded.replace(i, 2, "\xD0\xB5");
  return folded;
}

std::optional<std::string> NormalizeSince(std::string_view text) {
  int year, month, day, hour = 0, minute = 0, second = 0;
  if (!Digits(text, 0, 4, year) || text.size() < 10 || text[4] != '-' ||
      !Digits(text, 5, 2, month) || text[7] != '-' || !Digits(text, 8, 2, day))
    return std::nullopt;
  if (text.size() > 10) {
    if ((text[10] != ' ' && text[10] != 'T') || text.size() < 16 || !Digits(text, 11, 2, hour) ||
        text[13] != ':' || !Digits(text, 14, 2, minute))
      return std::nullopt;
    if (text.size() > 16 && (text.size() != 19 || text[16] != ':' || !Digits(text, 17, 2, second)))
      return std::nullopt;
  }
  static constexpr int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12 || day < 1 || day > kDays[month - 1] || hour > 23 || minute > 59 ||
      second > 59)
    return std::nullopt;
  char out[64];
  std::snprintf(out, sizeof out, "%04d-%02d-%02d %02d:%02d:%02d.000", year, month, day, hour,
                minute, second);
  return std::string(out);
}

}  // namespace vestrel::archive
