#include "cli/text.h"

#include <cstdio>
#include <optional>

#include "cli/options.h"
#include "platform/cp1251.h"

namespace vestrel::cli {
namespace {

// The next code point of well-formed UTF-8 (no overlong forms, no surrogates,
// nothing above U+10FFFF); nothing when the bytes at i are not.
std::optional<char32_t> NextCodePoint(std::string_view s, std::size_t& i) {
  const auto lead = static_cast<unsigned char>(s[i]);
  std::size_t extra = 0;
  char32_t cp = 0;
  char32_t least = 0;
  if (lead < 0x80) {
    ++i;
    return lead;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    extra = 1, cp = lead & 0x1F, least = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    extra = 2, cp = lead & 0x0F, least = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    extra = 3, cp = lead & 0x07, least = 0x10000;
  } else {
    return std::nullopt;
  }
  if (s.size() - i <= extra) return std::nullopt;
  for (std::size_t k = 1; k <= extra; ++k) {
    const auto c = static_cast<unsigned char>(s[i + k]);
    if ((c & 0xC0) != 0x80) return std::nullopt;
    cp = (cp << 6) | (c & 0x3F);
  }
  if (cp < least || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return std::nullopt;
  i += extra + 1;
  return cp;
}

std::string Hex(char32_t cp) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "U+%04X", static_cast<unsigned>(cp));
  return buffer;
}

}  // namespace

std::string SmsTextFromUtf8(std::string_view utf8) {
  std::string text;
  text.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size();) {
    const std::size_t at = i;
    const auto cp = NextCodePoint(utf8, i);
    if (!cp)
      throw UsageError("the text is not valid UTF-8 (byte " + std::to_string(at + 1) +
                       "); nothing sent");
    if (*cp == '\n') {
      // A CR LF stays one line break; a lone LF becomes one.
      if (text.empty() || text.back() != '\r') text += '\r';
      text += '\n';
      continue;
    }
    const auto byte = platform::UnicodeToCp1251(*cp);
    if (!byte)
      throw UsageError("the text holds " + Hex(*cp) + " \"" + std::string(utf8.substr(at, i - at)) +
                       "\", which an SMS of this program cannot carry; nothing sent");
    text += static_cast<char>(*byte);
  }
  return text;
}

std::u32string SmsCodePointsFromUtf8(std::string_view utf8) {
  std::u32string text;
  text.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size();) {
    const std::size_t at = i;
    const auto cp = NextCodePoint(utf8, i);
    if (!cp)
      throw UsageError("the text is not valid UTF-8 (byte " + std::to_string(at + 1) +
                       "); nothing sent");
    if (*cp == '\n' && !text.empty() && text.back() == '\r') text.pop_back();
    text += *cp;
  }
  return text;
}

std::string Cp1251Approximation(std::u32string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char32_t c : text) {
    if (c == '\n') {
      out += "\r\n";
      continue;
    }
    const auto byte = platform::UnicodeToCp1251(c);
    out += byte ? static_cast<char>(*byte) : '?';
  }
  return out;
}

std::string_view WithoutFinalLineBreak(std::string_view text) {
  if (text.empty() || text.back() != '\n') return text;
  text.remove_suffix(1);
  if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
  return text;
}

std::string JsonString(std::string_view utf8) {
  std::string out = "\"";
  for (char c : utf8) {
    const auto byte = static_cast<unsigned char>(c);
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (byte < 0x20 || byte == 0x7F) {
          char buffer[8];
          std::snprintf(buffer, sizeof buffer, "\\u%04X", byte);
          out += buffer;
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

}  // namespace vestrel::cli
