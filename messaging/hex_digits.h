#pragma once
// Hexadecimal digits as AT answers and PDUs spell them: upper case out, either
// case in.

namespace vestrel {

inline constexpr char kHexDigits[] = "0123456789ABCDEF";

// The digit's value, or -1 for a character that is no hexadecimal digit.
constexpr int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace vestrel
