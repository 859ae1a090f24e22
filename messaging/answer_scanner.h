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

#include "messaging/deliver_pdu.h"
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

// A line the modem sends on its own (a new message stored, a call, the
// network, the signal): it may come between any two lines of an answer and
// is never part of one.
bool IsUnsolicitedResult(std::string_view line);

// One message as it was found, with the lines it was made of.
struct FoundMessage {
  ListedMessage message;
  std::string header_line;            // as received, CRs dropped
  std::string body_line;              // the body's lines, joined with LF
  std::optional<std::int32_t> index;  // storage index, when the echo of its read preceded it
  // PDU mode: the SMS-DELIVER of the body; none in text mode or when it did not decode.
  std::optional<DeliveredPart> part;
  // Shown joined from the parts of a concatenated message: how many of them
  // are here, of how many; fewer here than in all is an incomplete message.
  std::size_t parts_present = 1;
  std::size_t parts_total = 1;
};

// Follows the answers line by line. A header is a line that begins with
// "+CMGR:" and stands where an answer can start: outside an answer, or after
// an empty line or the echo of a command. Inside an answer (from a header to
// its final result code) every other line is message text: the line after
// the header always, the lines after it up to the empty line before the final
// result code. Unsolicited result codes are no part of an answer.
class AnswerScanner {
 public:
  // In PDU mode the body is one line of hexadecimal that is decoded as an
  // SMS-DELIVER; message text can then never stand on a line of its own.
  void SetPduMode(bool pdu) { pdu_ = pdu; }
  // Scans whole lines (as CompletePartLength cut them); returns the messages
  // whose answers ended in them.
  std::vector<FoundMessage> Scan(std::string_view bytes);
  // The message whose answer has not ended yet, as far as it came; none
  // when no answer is open. The scan goes on as if the answer had ended.
  std::optional<FoundMessage> Flush();
  // Final result codes seen since the last Reset.
  std::int64_t FinalResults() const { return final_results_; }
  // The index of the last read whose echo ("AT+CMGR=i") a final result code
  // has followed: its answer is over, whatever came before it.
  std::optional<std::int32_t> LastAnsweredRead() const { return answered_read_; }
  void Reset();

 private:
  struct OpenMessage {
    FoundMessage found;
    std::vector<std::string> body;
    bool body_started = false;
    std::size_t empty_lines = 0;  // empty lines after the body, not yet known to be text
    bool after_echo = false;      // the last line looked like a command's echo
  };
  FoundMessage Close(OpenMessage open) const;
  // One line inside an open answer; true when it ended the answer.
  bool InsideAnswer(const std::string& text, std::vector<FoundMessage>& found);
  void StartAnswer(const std::string& header);
  void OutsideAnswer(const std::string& text);

  std::optional<OpenMessage> open_;     // the answer under way
  std::optional<std::int32_t> echoed_;  // index of an echoed "AT+CMGR=" just before
  std::int64_t final_results_ = 0;
  std::optional<std::int32_t> echoed_read_;  // the read whose answer runs now
  std::optional<std::int32_t> answered_read_;
  bool pdu_ = false;
};

}  // namespace vestrel
