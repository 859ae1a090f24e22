#pragma once
// A recipient's number as people write it on the command line.

#include <string>
#include <string_view>

namespace vestrel::cli {

// The digits of a number written with a leading "+", spaces, hyphens and a
// pair of brackets around an area code ("+7 (916) 123-45-67" is
// "79161234567"). Anything else comes back unchanged, for the window's check
// to refuse as it refuses a typed number.
std::string WithoutNumberForms(std::string_view typed);

}  // namespace vestrel::cli
