#pragma once
// The application title: the program sets none of its own, so it comes from
// the executable's file name. It captions every error message box.

#include <filesystem>
#include <string>

namespace vestrel {

// The file name without its folder, cut at its first ".", with every
// character after the first in lower case (Windows-1251 text).
std::string ApplicationTitle(const std::filesystem::path& executable);

}  // namespace vestrel
