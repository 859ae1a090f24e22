#pragma once
// The modem's answer lines, one at a time: final result codes, the SMS
// reference of a send and the prompt for a PDU.

#include <optional>
#include <string>
#include <string_view>

namespace vestrel {

enum class AnswerKind {
  kOther,     // an information line, an echo, anything else
  kOk,        // "OK"
  kError,     // "ERROR"
  kCmsError,  // "+CMS ERROR: n" (message service failure)
  kCmeError,  // "+CME ERROR: n" (equipment failure)
  kCmgs,      // "+CMGS: mr[,...]": the message was taken, with its reference
  kPrompt,    // "> ": the modem waits for the PDU
};

struct AtAnswer {
  AnswerKind kind = AnswerKind::kOther;
  // The reference of +CMGS, or the code of an error when it is a number
  // (a modem in verbose mode gives a text instead).
  std::optional<int> value;
};

// One line without its line end; surrounding blanks do not matter.
AtAnswer ParseAnswerLine(std::string_view line);

// What a +CMS ERROR code means, in Russian (Windows-1251); empty for a code
// not in the table.
std::string CmsErrorMeaning(int code);

}  // namespace vestrel
