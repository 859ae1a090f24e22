// Character codings a GSM modem deals with: UTF-8 (the simulator's own text),
// UCS-2 as big-endian UTF-16 (TP-DCS UCS2 and the "UCS2" character set),
// the GSM 7-bit default alphabet with its extension table (3GPP TS 23.038)
// and septet packing (3GPP TS 23.040 9.2.3.24).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vestrel::sim {

// Malformed UTF-8 sequences become U+FFFD.
std::u32string Utf8ToCodePoints(std::string_view utf8);
std::string CodePointsToUtf8(std::u32string_view code_points);

// Each byte taken as the code point of the same value; keeps arbitrary bytes in JSON.
std::string Latin1ToUtf8(std::string_view bytes);
// Inverse of Latin1ToUtf8; nullopt when a code point is above U+00FF.
std::optional<std::string> Utf8ToLatin1(std::string_view utf8);

// Big-endian UTF-16 octets; characters beyond the BMP become surrogate pairs.
std::string Utf8ToUcs2Bytes(std::string_view utf8);
// Lone surrogates and an odd trailing octet become U+FFFD.
std::string Ucs2BytesToUtf8(std::string_view octets);

std::string ToHex(std::string_view bytes);  // uppercase
// nullopt for an odd length or a character that is not a hexadecimal digit.
std::optional<std::string> FromHex(std::string_view hex);

// Septet values (escape 0x1B included for extension characters); nullopt when
// a character has no place in the default alphabet or its extension table.
std::optional<std::vector<std::uint8_t>> Utf8ToGsm7(std::string_view utf8);
// Unknown extension codes decode as their default-alphabet character, as the
// standard asks receivers to do.
std::string Gsm7ToUtf8(const std::vector<std::uint8_t>& septets);

// fill_bits: bits left free after a user-data header so that the first
// septet starts on a septet boundary.
std::string PackSeptets(const std::vector<std::uint8_t>& septets, int fill_bits = 0);
std::vector<std::uint8_t> UnpackSeptets(std::string_view octets, std::size_t count,
                                        int fill_bits = 0);

}  // namespace vestrel::sim
