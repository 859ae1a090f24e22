#pragma once
// The staging of received chunks: the file "tmp.sms" in the current directory,
// and the parser that reads stored messages back out of it.

#include <string>
#include <string_view>
#include <vector>

namespace vestrel {

inline constexpr char kStagingFileName[] = "tmp.sms";

// One line of the staged bytes.
struct StagedLine {
  std::string text;
  bool starts_with_ctrl_z = false;  // the line's first byte was Ctrl-Z
};

// Lines end at LF; every CR is dropped; a Ctrl-Z ends its line there and the
// bytes after it up to the next LF are skipped.
std::vector<StagedLine> SplitStagedLines(std::string_view bytes);

// A message as the modem lists it in text mode: a "+CMGR:" header line and the
// body on the lines after it.
struct ListedMessage {
  std::string number;   // the sender as the header quotes it, whatever its length
  std::string time;     // at most 17 bytes: the date and time without the zone
  std::string sent_at;  // ISO 8601 with the zone's offset; empty when the header has none
  std::string text;     // the decoded body, its lines joined with LF
};

// The message that a header line and its body lines (joined with LF) give.
ListedMessage ListedFromLines(std::string_view header, std::string_view body);

// The modem-log line of one message.
std::string MessageLogLine(const ListedMessage& message);

// S with every occurrence of old_part replaced by new_part, left to right,
// without overlap; inserted text is not searched again. An empty old_part is
// never found.
std::string SubstituteAll(std::string_view s, std::string_view old_part, std::string_view new_part);

// Stages the bytes to be parsed in the staging file, followed by CR LF, and
// returns them as the file gives them back, without that CR LF. Throws when
// the file cannot be used; nothing is left on disk either way.
std::string StageThroughFile(const std::string& path, std::string_view bytes);

}  // namespace vestrel
