#pragma once
// The two alphabets an SMS carries text in: the GSM 7-bit default alphabet
// with its extension table, its septets packed into octets, and UTF-16 (UCS-2
// with surrogate pairs). Text is Unicode code points here, so that any script
// and emoji pass; the window's Windows-1251 and the console's UTF-8 are
// converted before.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vestrel {

inline constexpr std::uint8_t kGsm7Escape = 0x1B;

// The septets of one character: one from the default alphabet, or the escape
// and one from the extension table; empty when the alphabet lacks it.
std::vector<std::uint8_t> Gsm7Septets(char32_t code_point);

// The septets of a whole text; nothing when a character is missing.
std::optional<std::vector<std::uint8_t>> TextToGsm7(std::u32string_view text);

// The characters of septets. An escape before a code the extension table
// lacks gives that code's default character, as receivers are to show it.
std::u32string Gsm7ToText(const std::vector<std::uint8_t>& septets);

// Septets packed low bit first, after fill_bits free bits (those that bring
// the text after a user-data header to a septet boundary).
std::string PackSeptets(const std::vector<std::uint8_t>& septets, int fill_bits = 0);
// count septets from packed octets; missing octets read as zero bits.
std::vector<std::uint8_t> UnpackSeptets(std::string_view octets, std::size_t count,
                                        int fill_bits = 0);

// UTF-16 code units; code points above U+FFFF become surrogate pairs.
std::u16string TextToUtf16(std::u32string_view text);
// Big-endian octets of UTF-16 code units.
std::string Utf16ToOctets(std::u16string_view units);
// Characters of big-endian UTF-16 octets; a lone surrogate or an odd last
// octet becomes U+FFFD.
std::u32string OctetsToText(std::string_view octets);

// Uppercase hexadecimal digits of octets, and back (nothing unless an even
// count of hexadecimal digits of either case).
std::string OctetsToHex(std::string_view octets);
std::optional<std::string> HexToOctets(std::string_view hex);

}  // namespace vestrel
