#include "messaging/answer_scanner.h"

#include "messaging/inbox_reader.h"
#include "messaging/pdu_messages.h"

namespace vestrel {
namespace {

constexpr std::string_view kHeaderMark = "+CMGR:";
constexpr std::string_view kReadEcho = "AT+CMGR=";

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// A line as the parser sees it: CRs dropped, cut at a Ctrl-Z.
std::string LineText(std::string_view raw) {
  std::string text;
  for (char c : raw) {
    if (c == 26) break;
    if (c != '\r') text += c;
  }
  return text;
}

bool IsCommandEcho(std::string_view line) {
  return line.size() >= 2 && (line[0] == 'A' || line[0] == 'a') &&
         (line[1] == 'T' || line[1] == 't');
}

}  // namespace

std::size_t CompletePartLength(std::string_view bytes) {
  const std::size_t last_end = bytes.rfind('\n');
  std::size_t complete = 0;
  if (last_end != std::string_view::npos) {
    complete = last_end + 1;
    const std::size_t previous_end =
        last_end == 0 ? std::string_view::npos : bytes.rfind('\n', last_end - 1);
    const std::size_t line_start = previous_end == std::string_view::npos ? 0 : previous_end + 1;
    // A header waits for its body line.
    if (StartsWith(LineText(bytes.substr(line_start, last_end - line_start)), kHeaderMark))
      complete = line_start;
  }
  if (bytes.size() - complete > kMaxHeldAnswerBytes) return bytes.size();
  return complete;
}

bool HasLineStartingWith(std::string_view bytes, std::string_view mark) {
  for (const StagedLine& line : SplitStagedLines(bytes))
    if (StartsWith(line.text, mark)) return true;
  return false;
}

std::optional<MarkedLine> FindLineStartingWith(std::string_view bytes, std::string_view mark) {
  std::size_t start = 0;
  while (start < bytes.size()) {
    const std::size_t end = bytes.find('\n', start);
    if (end == std::string_view::npos) break;  // an unfinished line is no line yet
    const std::string text = LineText(bytes.substr(start, end - start));
    if (StartsWith(text, mark))
      return MarkedLine{std::string(bytes.substr(0, start)), text,
                        std::string(bytes.substr(end + 1))};
    start = end + 1;
  }
  return std::nullopt;
}

bool IsFinalResult(std::string_view line) {
  return line == "OK" || line == "ERROR" || StartsWith(line, "+CMS ERROR:") ||
         StartsWith(line, "+CME ERROR:");
}

bool IsUnsolicitedResult(std::string_view line) {
  // Those of 27.005 and 27.007 a modem may send while messages are read, and
  // the vendor ones common USB modems send all day.
  static constexpr std::string_view kMarks[] = {
      "+CMTI:",  "+CDSI:",      "+CDS:",     "+CBMI:",   "+CLIP:", "+CRING:", "+CREG:",
      "+CGREG:", "+CEREG:",     "+CUSD:",    "+CIEV:",   "+CCWA:", "^RSSI:",  "^HCSQ:",
      "^BOOT:",  "^MODE:",      "^SRVST:",   "^SIMST:",  "^CEND:", "^ORIG:",  "^CONF:",
      "^CONN:",  "^DSFLOWRPT:", "^SYSSTART", "+PBREADY", "^STIN:"};
  if (line == "RING") return true;
  for (std::string_view mark : kMarks)
    if (StartsWith(line, mark)) return true;
  return false;
}

FoundMessage AnswerScanner::Close(OpenMessage open) const {
  std::string body;
  for (std::size_t i = 0; i < open.body.size(); ++i) {
    if (i > 0) body += '\n';
    body += open.body[i];
  }
  open.found.body_line = std::move(body);
  if (pdu_) {
    DecodePduFound(open.found);
  } else {
    open.found.message = ListedFromLines(open.found.header_line, open.found.body_line);
  }
  return std::move(open.found);
}

void AnswerScanner::StartAnswer(const std::string& header) {
  open_.emplace(OpenMessage{});
  open_->found.header_line = header;
  open_->found.index = echoed_;
  echoed_.reset();
}

bool AnswerScanner::InsideAnswer(const std::string& text, std::vector<FoundMessage>& found) {
  if (IsUnsolicitedResult(text)) return true;
  OpenMessage& m = *open_;
  if (!m.body_started) {
    // The line after the header is text whatever it holds.
    m.body_started = true;
    m.body.push_back(text);
    return true;
  }
  if (text.empty()) {
    ++m.empty_lines;
    m.after_echo = false;
    return true;
  }
  const bool header_here = StartsWith(text, kHeaderMark) && (m.empty_lines > 0 || m.after_echo);
  if (IsFinalResult(text) || header_here) {
    // An echo right before a header was the next command's, not text.
    if (header_here && m.after_echo && m.empty_lines == 0) m.body.pop_back();
    found.push_back(Close(std::move(m)));
    open_.reset();
    return false;
  }
  for (; m.empty_lines > 0; --m.empty_lines) m.body.emplace_back();
  m.body.push_back(text);
  m.after_echo = IsCommandEcho(text);
  echoed_.reset();
  if (StartsWith(text, kReadEcho)) echoed_ = ParseSmsNumber(text.substr(kReadEcho.size()));
  return true;
}

void AnswerScanner::OutsideAnswer(const std::string& text) {
  if (StartsWith(text, kHeaderMark)) {
    StartAnswer(text);
    return;
  }
  if (IsUnsolicitedResult(text)) return;
  if (IsFinalResult(text)) {
    ++final_results_;
    if (echoed_read_) answered_read_ = echoed_read_;
    echoed_read_.reset();
  }
  echoed_.reset();
  if (StartsWith(text, kReadEcho)) {
    echoed_ = ParseSmsNumber(text.substr(kReadEcho.size()));
    echoed_read_ = echoed_;
  } else if (IsCommandEcho(text)) {
    echoed_read_.reset();
  }
}

std::vector<FoundMessage> AnswerScanner::Scan(std::string_view bytes) {
  std::vector<FoundMessage> found;
  for (const StagedLine& line : SplitStagedLines(bytes)) {
    if (open_ && InsideAnswer(line.text, found)) continue;
    OutsideAnswer(line.text);
  }
  return found;
}

std::optional<FoundMessage> AnswerScanner::Flush() {
  if (!open_) return std::nullopt;
  FoundMessage message = Close(std::move(*open_));
  open_.reset();
  return message;
}

void AnswerScanner::Reset() {
  open_.reset();
  echoed_.reset();
  final_results_ = 0;
  echoed_read_.reset();
  answered_read_.reset();
}

}  // namespace vestrel
