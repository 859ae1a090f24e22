#include "platform/utf8.h"

namespace vestrel::platform {

Utf8Step DecodeUtf8(std::string_view text) {
  const auto lead = static_cast<unsigned char>(text[0]);
  if (lead < 0x80) return {lead, 1};
  std::size_t extra = 0;
  char32_t min = 0;
  if ((lead & 0xE0) == 0xC0) {
    extra = 1;
    min = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    extra = 2;
    min = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    extra = 3;
    min = 0x10000;
  } else {
    return {std::nullopt, 1};
  }
  char32_t cp = lead & (0x7Fu >> (extra + 1));
  for (std::size_t k = 1; k <= extra; ++k) {
    if (k >= text.size()) return {std::nullopt, k};
    const auto c = static_cast<unsigned char>(text[k]);
    if ((c & 0xC0) != 0x80) return {std::nullopt, k};
    cp = (cp << 6) | (c & 0x3Fu);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    return {std::nullopt, extra + 1};
  }
  return {cp, extra + 1};
}

bool IsWellFormedUtf8(std::string_view text) {
  while (!text.empty()) {
    const Utf8Step step = DecodeUtf8(text);
    if (!step.code_point) return false;
    text.remove_prefix(step.length);
  }
  return true;
}

std::optional<std::u32string> Utf8ToCodePoints(std::string_view text) {
  std::u32string out;
  while (!text.empty()) {
    const Utf8Step step = DecodeUtf8(text);
    if (!step.code_point) return std::nullopt;
    out.push_back(*step.code_point);
    text.remove_prefix(step.length);
  }
  return out;
}

std::optional<std::u16string> Utf8ToUtf16(std::string_view text) {
  const auto code_points = Utf8ToCodePoints(text);
  if (!code_points) return std::nullopt;
  std::u16string out;
  for (char32_t cp : *code_points) {
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
  }
  return out;
}

std::optional<std::string> Utf16ToUtf8(std::u16string_view units) {
  std::string out;
  out.reserve(units.size());
  for (std::size_t i = 0; i < units.size(); ++i) {
    const char32_t unit = units[i];
    if (unit >= 0xDC00 && unit <= 0xDFFF) return std::nullopt;
    if (unit < 0xD800 || unit > 0xDBFF) {
      AppendUtf8(out, unit);
      continue;
    }
    if (i + 1 == units.size() || units[i + 1] < 0xDC00 || units[i + 1] > 0xDFFF)
      return std::nullopt;
    AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (units[++i] - 0xDC00));
  }
  return out;
}

void AppendUtf8(std::string& out, char32_t cp) {
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

std::filesystem::path PathFromUtf8(std::string_view name) {
  return std::filesystem::path(std::u8string(name.begin(), name.end()));
}

std::string PathToUtf8(const std::filesystem::path& path) {
  const std::u8string name = path.u8string();
  return std::string(name.begin(), name.end());
}

}  // namespace vestrel::platform
