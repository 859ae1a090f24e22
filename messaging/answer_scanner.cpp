#include "messaging/answer_scanner.h"

#include "messaging/inbox_reader.h"

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

std::vector<FoundMessage> AnswerScanner::Scan(std::string_view bytes) {
  std::vector<FoundMessage> found;
  std::optional<FoundMessage> header;  // a header whose body line comes next
  for (const StagedLine& line : SplitStagedLines(bytes)) {
    if (header) {
      // The body is used up here, so it is never taken for a header.
      header->body_line = line.text;
      header->message = ListedFromLines(header->header_line, header->body_line);
      found.push_back(std::move(*header));
      header.reset();
      at_answer_start_ = false;
      continue;
    }
    const std::string& text = line.text;
    if (StartsWith(text, kHeaderMark) && (!in_answer_ || at_answer_start_)) {
      header = FoundMessage{};
      header->header_line = text;
      header->index = echoed_;
      in_answer_ = true;
      echoed_.reset();
      continue;
    }
    if (IsFinalResult(text)) {
      ++final_results_;
      in_answer_ = false;
    }
    echoed_.reset();
    if (StartsWith(text, kReadEcho)) echoed_ = ParseSmsNumber(text.substr(kReadEcho.size()));
    at_answer_start_ = text.empty() || IsCommandEcho(text);
  }
  // A header at the very end (only when held bytes had to be given up) is
  // shown with an empty text, as when its body never came.
  if (header) {
    header->message = ListedFromLines(header->header_line, {});
    found.push_back(std::move(*header));
  }
  return found;
}

void AnswerScanner::Reset() {
  in_answer_ = false;
  at_answer_start_ = true;
  echoed_.reset();
  final_results_ = 0;
}

}  // namespace vestrel
