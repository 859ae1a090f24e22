#include "cli/stdin_text.h"

#include "cli/options.h"
#include "platform/utf8.h"

namespace vestrel::cli {
namespace {

constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16LeMark = "\xFF\xFE";
constexpr std::string_view kUtf16BeMark = "\xFE\xFF";

std::string FromUtf16(std::string_view bytes, bool little_endian) {
  std::u16string units;
  units.reserve(bytes.size() / 2);
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const auto first = static_cast<unsigned char>(bytes[i]);
    const auto second = static_cast<unsigned char>(bytes[i + 1]);
    units.push_back(
        static_cast<char16_t>(little_endian ? first | second << 8 : first << 8 | second));
  }
  auto utf8 = platform::Utf16ToUtf8(units);
  if (!utf8 || bytes.size() % 2 != 0)
    throw UsageError("standard input starts as UTF-16 but is not valid UTF-16; nothing sent");
  return std::move(*utf8);
}

}  // namespace

std::string StandardInputUtf8(std::string_view bytes) {
  if (bytes.starts_with(kUtf8Mark)) return std::string(bytes.substr(kUtf8Mark.size()));
  if (bytes.starts_with(kUtf16LeMark)) return FromUtf16(bytes.substr(kUtf16LeMark.size()), true);
  if (bytes.starts_with(kUtf16BeMark)) return FromUtf16(bytes.substr(kUtf16BeMark.size()), false);
  return std::string(bytes);
}

}  // namespace vestrel::cli
