#include "platform/text_case.h"

#include "platform/cp1251.h"

namespace vestrel::platform {

char Cp1251ToLower(char c) {
  const char16_t cp = Cp1251ToUnicode(static_cast<unsigned char>(c));
  char32_t lower = cp;
  if (cp >= u'A' && cp <= u'Z') {
    lower = cp + 0x20;
  } else if (cp >= 0x0410 && cp <= 0x042F) {  // А..Я
    lower = cp + 0x20;
  } else if (cp >= 0x0400 && cp <= 0x040F) {  // Ѐ..Џ
    lower = cp + 0x50;
  } else if (cp == 0x0490) {  // Ґ
    lower = 0x0491;
  } else {
    return c;
  }
  const auto byte = UnicodeToCp1251(lower);
  return byte ? static_cast<char>(*byte) : c;
}

std::string Cp1251LowerCase(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = Cp1251ToLower(c);
  return out;
}

bool Cp1251EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Cp1251ToLower(a[i]) != Cp1251ToLower(b[i])) return false;
  }
  return true;
}

}  // namespace vestrel::platform
