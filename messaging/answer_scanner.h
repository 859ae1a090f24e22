#pragma once
// The modem's answers during a reading, followed line by line across the
// chunks in which they arrive. Every message that reaches the port has been
// deleted from the phone by the time it is parsed, so a chunk is never parsed
// half: an answer cut between two chunks waits for the rest, and text inside a
// message never passes for a header, a count or the end of an answer.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "messaging/staging.h"

namespace vestrel {

// Bytes that have not yet made a whole answer are kept up to this size; a
// device that sends more without a line end has its bytes parsed as they are.
inline constexpr std::size_t kMaxHeldAnswerBytes = 64 * 1024;

// Where the bytes received so far split into a part that may be parsed now
// and a tail that waits for the next chunk: the tail is an unfinished line,
// or a header line whose body line has not ended yet.
std::size_t CompletePartLength(std::string_view bytes);

// Whether any whole line of the bytes begins with the mark.
bool HasLineStartingWith(std::string_view bytes, std::string_view mark);

// The first whole line that begins with the mark, without its line end; the
// bytes before it and after it.
struct MarkedLine {
  std::string before;
  std::string line;
  std::string after;
};
std::optional<MarkedLine> FindLineStartingWith(std::string_view bytes, std::string_view mark);

// A final result code of V.250 or 27.005: OK, ERROR, +CMS ERROR, +CME ERROR.
bool IsFinalResult(std::string_view line);

// One message as it was found, with the lines it was made of.
struct FoundMessage {
  ListedMessage message;
  std::string header_line;  // as received, CRs dropped
  std::string body_line;
  std::optional<std::int32_t> index;  // storage index, when the echo of its read preceded it
};

// Follows the answers line by line. A header is a line that begins with
// "+CMGR:" and stands where an answer can start: outside an answer, or after
// an empty line or the echo of a command. Inside an answer (from a header to
// its final result code) every other line is message text.
class AnswerScanner {
 public:
  // Scans whole lines (as CompletePartLength cut them); returns the messages.
  std::vector<FoundMessage> Scan(std::string_view bytes);
  // Final result codes seen since the last Reset.
  std::int64_t FinalResults() const { return final_results_; }
  void Reset();

 private:
  bool in_answer_ = false;
  bool at_answer_start_ = true;         // the last line was empty, an echo, or none
  std::optional<std::int32_t> echoed_;  // index of an echoed "AT+CMGR=" just before
  std::int64_t final_results_ = 0;
};

}  // namespace vestrel
