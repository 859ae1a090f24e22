#include "cli/number_forms.h"

namespace vestrel::cli {

std::string WithoutNumberForms(std::string_view typed) {
  std::string digits;
  bool seen_digit = false;
  bool in_brackets = false;
  bool brackets_used = false;
  std::size_t digits_before_bracket = 0;
  for (std::size_t i = 0; i < typed.size(); ++i) {
    const char c = typed[i];
    if (c >= '0' && c <= '9') {
      digits += c;
      seen_digit = true;
    } else if (c == ' ' || c == '\t' || c == '-') {
    } else if (c == '+' && !seen_digit && !in_brackets && typed.find_first_not_of(" \t") == i) {
      // Only as the first sign: "7+916" or "++7" is no number.
    } else if (c == '(' && !in_brackets && !brackets_used) {
      in_brackets = brackets_used = true;
      digits_before_bracket = digits.size();
    } else if (c == ')' && in_brackets && digits.size() > digits_before_bracket) {
      in_brackets = false;
    } else {
      return std::string(typed);
    }
  }
  if (in_brackets || digits.empty()) return std::string(typed);
  return digits;
}

}  // namespace vestrel::cli
