#include "cli/text.h"

#include <cstdio>
#include <optional>

#include "cli/options.h"
#include "platform/cp1251.h"
#include "platform/utf8.h"

namespace vestrel::cli {
namespace {

// The next code point of well-formed UTF-8, i moved past it; nothing when
// the bytes at i are not well-formed.
std::optional<char32_t> NextCodePoint(std::string_view s, std::size_t& i) {
  const platform::Utf8Step step = platform::DecodeUtf8(s.substr(i));
  if (step.code_point) i += step.length;
  return step.code_point;
}

std::string Hex(char32_t cp) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "U+%04X", static_cast<unsigned>(cp));
  return buffer;
}

}  // namespace

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

std::string SmsTextFromUtf8(std::string_view utf8) {
  std::string text;
  text.reserve(utf8.size());
  for (const char32_t cp : SmsCodePointsFromUtf8(utf8)) {
    if (cp == '\n') {
      text += "\r\n";  // the window's line break
      continue;
    }
    const auto byte = platform::UnicodeToCp1251(cp);
    if (!byte) {
      std::string shown;
      platform::AppendUtf8(shown, cp);
      throw UsageError("the text holds " + Hex(cp) + " \"" + shown +
                       "\", which an SMS of this program cannot carry; nothing sent");
    }
    text += static_cast<char>(*byte);
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
