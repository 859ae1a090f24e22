#pragma once
// The Windows-1251 code page: every text inside the program is an 8-bit
// Windows-1251 string, one byte a character. Conversions to Unicode happen only
// at the edges (widgets, UTF-8 files, the UCS-2 codec).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vestrel::platform {

// Code point of a Windows-1251 byte. Byte 152 is unassigned and maps to U+FFFD.
char16_t Cp1251ToUnicode(unsigned char byte);

// Windows-1251 byte of a code point, or nothing when the code page lacks it.
std::optional<unsigned char> UnicodeToCp1251(char32_t code_point);

// UTF-8 to Windows-1251; characters the code page lacks become '?'.
// Used for the program's own literals, which are written in UTF-8 source.
std::string Cp1251FromUtf8(std::string_view utf8);

// Windows-1251 to UTF-8 (byte 152 becomes U+FFFD).
std::string Cp1251ToUtf8(std::string_view cp1251);

// Received bytes as one readable UTF-8 line, shown alike in vestrel-sms's
// --log file and in the archive's listings: Windows-1251 letters as letters,
// CR, LF and tab as \r, \n, \t, a backslash doubled, other control bytes and
// the unassigned byte as \xNN.
std::string ShownBytes(std::string_view cp1251);

}  // namespace vestrel::platform
