#pragma once
// Conversion between the program's Windows-1251 text and the modem's UCS-2
// written as four hexadecimal digits per character.

#include <string>
#include <string_view>

namespace vestrel {

// Four uppercase hexadecimal digits for each byte of a Windows-1251 text, the
// byte's Unicode code point (the unassigned byte 152 is written as "?", 003F).
std::string TextToUcs2Hex(std::string_view text);

// One byte for each group of up to four hexadecimal digits (either case). Code
// points that Windows-1251 lacks, and 007F, become a space. When any group holds
// a character that is not a hexadecimal digit, the input is returned unchanged:
// that is how plain-text message bodies pass through.
std::string Ucs2HexToText(std::string_view hex);

// The byte that one decoded UCS-2 code gives.
unsigned char Ucs2CodeToByte(unsigned code);

}  // namespace vestrel
