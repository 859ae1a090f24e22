#pragma once
// Letter case of Windows-1251 text: ASCII and the Cyrillic letters of the code
// page (including Ё, Ґ, Є, І, Ї, Ў and the Serbian and Macedonian letters).

#include <string>
#include <string_view>

namespace vestrel::platform {

char Cp1251ToLower(char c);
std::string Cp1251LowerCase(std::string_view text);
bool Cp1251EqualNoCase(std::string_view a, std::string_view b);

}  // namespace vestrel::platform
