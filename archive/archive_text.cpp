// Text helpers of the archive: case folding for the filter and the since-date.

#include <cstdint>
#include <cstdio>

#include "archive/archive.h"
#include "platform/utf8.h"

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
    const platform::Utf8Step step = platform::DecodeUtf8(utf8.substr(i));
    if (!step.code_point) {
      // An ill-formed byte stays as it is; the bytes after it are looked at anew.
      out += utf8[i++];
      continue;
    }
    platform::AppendUtf8(out, LowerOf(*step.code_point));
    i += step.length;
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
