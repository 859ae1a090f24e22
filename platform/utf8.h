#pragma once
// UTF-8, the encoding of source files, of files written on Linux and of the
// simulator's transcript. One decoder and one encoder for the whole program.

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace vestrel::platform {

// One step of decoding: the character at the start of a text, or nothing when
// the bytes there are not well-formed UTF-8 (a stray continuation byte, a
// missing continuation, an overlong form, a surrogate, a value above U+10FFFF).
// `length` is never 0: the bytes the character takes, or for an ill-formed
// sequence its lead byte and the continuation bytes that followed it before
// the fault, so that a caller replacing it goes on after the damage.
struct Utf8Step {
  std::optional<char32_t> code_point;
  std::size_t length;
};

// Decodes the character at the start of `text`; `text` must not be empty.
Utf8Step DecodeUtf8(std::string_view text);

// True when all of `text` is well-formed UTF-8.
bool IsWellFormedUtf8(std::string_view text);

// The code points of well-formed UTF-8, or nothing.
std::optional<std::u32string> Utf8ToCodePoints(std::string_view text);

// The UTF-16 units of well-formed UTF-8 (surrogate pairs above U+FFFF), or nothing.
std::optional<std::u16string> Utf8ToUtf16(std::string_view text);

// The UTF-8 of UTF-16 units, or nothing when a surrogate stands unpaired.
std::optional<std::string> Utf16ToUtf8(std::u16string_view units);

// Appends the UTF-8 bytes of a code point (at most U+10FFFF).
void AppendUtf8(std::string& out, char32_t code_point);

// A file name given in UTF-8 (configuration, command line) as a path, and a
// path as UTF-8 (messages, SQLite's file names). On Windows a plain string
// would go through the ANSI code page and lose what it cannot hold.
std::filesystem::path PathFromUtf8(std::string_view name);
std::string PathToUtf8(const std::filesystem::path& path);

}  // namespace vestrel::platform
