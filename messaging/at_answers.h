#pragma once
// The modem's answers, one labelled parser each, and the marks they begin
// with, defined once: the storage answer (+CPMS), the read answer's header in
// text mode and in PDU mode (+CMGR), a send's answer (+CMGS, +CMS ERROR) and
// the final result codes, and the lines a modem sends on its own.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vestrel {

// ---- Marks ----
inline constexpr std::string_view kStorageMark = "+CPMS:";
inline constexpr std::string_view kReadMark = "+CMGR:";
inline constexpr std::string_view kReadCommand = "AT+CMGR=";
inline constexpr std::string_view kSentMark = "+CMGS:";
inline constexpr std::string_view kCmsErrorMark = "+CMS ERROR:";
inline constexpr std::string_view kCmeErrorMark = "+CME ERROR:";
inline constexpr std::string_view kOkResult = "OK";
inline constexpr std::string_view kErrorResult = "ERROR";

// ---- Numbers in answers ----
// A decimal number as the count wants it: leading blanks, one optional sign,
// digits, nothing else, within 32 bits.
std::optional<std::int32_t> ParseSmsNumber(std::string_view text);

// ---- +CPMS: the storage answer ----
// Storage capacity assumed when the "+CPMS:" answer does not give one.
inline constexpr std::int32_t kDefaultSmsCapacity = 255;

// What the first "+CPMS:" of a chunk says.
struct StorageAnswer {
  std::string count_text;  // between "+CPMS:" plus one byte and the next comma
  std::optional<std::int32_t> count;
  std::int32_t capacity = kDefaultSmsCapacity;  // the second number, when it reads
};
StorageAnswer ParseStorageAnswer(std::string_view chunk);

// ---- +CMGR: the read answer's header ----
// The fields of a header line after its "+CMGR:", quotes removed; a comma
// inside quotes belongs to its field.
std::vector<std::string> HeaderFields(std::string_view header);

// "yy/MM/dd,hh:mm:ss±zz" (zz in quarter hours) as "20yy-MM-ddThh:mm:ss±HH:MM";
// empty when the stamp does not read so.
std::string SentAtFromTimestamp(std::string_view stamp);

// The header line of a PDU-mode reading: "+CMGR: 1,,45" or "+CMGR: 0,"Name",23".
struct CmgrPduHeader {
  int stat = 0;       // 0 received unread, 1 received read, 2 stored unsent, 3 stored sent
  std::string alpha;  // as the modem wrote it, without quotes
  int length = 0;     // TPDU octets
};
std::optional<CmgrPduHeader> ParseCmgrPduHeader(std::string_view line);

// ---- Final result codes and lines sent unasked ----
// A final result code of V.250 or 27.005: OK, ERROR, +CMS ERROR, +CME ERROR.
bool IsFinalResult(std::string_view line);

// A line the modem sends on its own (a new message stored, a call, the
// network, the signal): it may come between any two lines of an answer and
// is never part of one.
bool IsUnsolicitedResult(std::string_view line);

// ---- Answers to a send, one line at a time ----

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
