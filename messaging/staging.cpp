#include "messaging/staging.h"

#include <optional>

#include "messaging/answer_scanner.h"
#include "messaging/ucs2_codec.h"
#include "platform/cp1251.h"
#include "platform/private_file.h"

namespace vestrel {
namespace {

constexpr char kCtrlZ = 26;
constexpr std::string_view kReadStatus = "\"REC READ\",\"";
constexpr std::string_view kUnreadStatus = "\"REC UNREAD\",\"";
constexpr std::string_view kEmptyNameField = "\",,\"";
constexpr std::size_t kNumberBytes = 12;
constexpr std::size_t kTimeBytes = 17;
constexpr char kApostrophe[] = "'";
// An apostrophe is shown as the byte 252 (the letter "ь").
constexpr char kApostropheStandIn[] = "\xFC";

// The bytes that follow the first occurrence of pattern, at most count of them;
// nothing when the line lacks the pattern.
std::optional<std::string> After(std::string_view line, std::string_view pattern,
                                 std::size_t count) {
  const std::size_t at = line.find(pattern);
  if (at == std::string_view::npos) return std::nullopt;
  return std::string(line.substr(at + pattern.size(), count));
}

}  // namespace

std::vector<StagedLine> SplitStagedLines(std::string_view bytes) {
  std::vector<StagedLine> lines;
  StagedLine line;
  bool open = false;      // bytes of the current line have been seen
  bool skipping = false;  // after a Ctrl-Z, up to the next LF
  for (char c : bytes) {
    if (c == '\n') {
      lines.push_back(std::move(line));
      line = StagedLine{};
      open = skipping = false;
      continue;
    }
    if (!open) line.starts_with_ctrl_z = c == kCtrlZ;
    open = true;
    if (skipping || c == '\r') continue;
    if (c == kCtrlZ) {
      skipping = true;
      continue;
    }
    line.text += c;
  }
  if (open) lines.push_back(std::move(line));
  return lines;
}

ListedMessage ListedFromLines(std::string_view header, std::string_view body) {
  ListedMessage message;
  if (auto number = After(header, kReadStatus, kNumberBytes)) message.number = *number;
  if (auto number = After(header, kUnreadStatus, kNumberBytes)) message.number = *number;
  if (auto time = After(header, kEmptyNameField, kTimeBytes)) message.time = *time;
  message.text = SubstituteAll(Ucs2HexToText(body), kApostrophe, kApostropheStandIn);
  return message;
}

std::vector<ListedMessage> ParseStaged(std::string_view bytes) {
  AnswerScanner scanner;
  std::vector<ListedMessage> messages;
  for (FoundMessage& found : scanner.Scan(bytes)) messages.push_back(std::move(found.message));
  return messages;
}

std::string MessageLogLine(const ListedMessage& message) {
  static const std::string number_label = platform::Cp1251FromUtf8("№ тел: ");
  static const std::string time_label = platform::Cp1251FromUtf8(" Дата и время отправки: ");
  static const std::string text_label = platform::Cp1251FromUtf8(" Текст: ");
  return number_label + message.number + time_label + message.time + text_label + message.text;
}

std::string SubstituteAll(std::string_view s, std::string_view old_part,
                          std::string_view new_part) {
  if (old_part.empty()) return std::string(s);
  std::string result;
  result.reserve(s.size());
  for (;;) {
    const std::size_t at = s.find(old_part);
    if (at == std::string_view::npos) break;
    result.append(s.substr(0, at));
    result.append(new_part);
    s.remove_prefix(at + old_part.size());
  }
  result.append(s);
  return result;
}

std::string StageThroughFile(const std::string& path, std::string_view bytes) {
  std::string staged(bytes);
  staged += "\r\n";
  std::string back = platform::StagePrivateFile(path, staged);
  if (back.size() >= 2 && back.compare(back.size() - 2, 2, "\r\n") == 0)
    back.resize(back.size() - 2);
  return back;
}

}  // namespace vestrel
