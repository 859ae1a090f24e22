#include "messaging/staging.h"

#include <optional>

#include "messaging/ucs2_codec.h"
#include "platform/cp1251.h"
#include "platform/private_file.h"

namespace vestrel {
namespace {

constexpr char kCtrlZ = 26;
constexpr std::string_view kHeaderMark = "+CMGR:";
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

std::vector<ListedMessage> ParseStaged(std::string_view bytes) {
  const std::vector<StagedLine> lines = SplitStagedLines(bytes);
  std::vector<ListedMessage> messages;
  for (std::size_t i = 0; i < lines.size();) {
    const StagedLine& line = lines[i++];
    if (line.starts_with_ctrl_z) break;
    if (line.text.find(kHeaderMark) == std::string::npos) continue;
    ListedMessage message;
    if (auto number = After(line.text, kReadStatus, kNumberBytes)) message.number = *number;
    if (auto number = After(line.text, kUnreadStatus, kNumberBytes)) message.number = *number;
    if (auto time = After(line.text, kEmptyNameField, kTimeBytes)) message.time = *time;
    // The body is used up here, so it is never taken for a header.
    const std::string body = i < lines.size() ? lines[i++].text : std::string();
    message.text = SubstituteAll(Ucs2HexToText(body), kApostrophe, kApostropheStandIn);
    messages.push_back(std::move(message));
  }
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

void WriteStagingFile(const std::string& path, std::string_view chunk) {
  std::string bytes(chunk);
  bytes += "\r\n";
  try {
    platform::WritePrivateFile(path, bytes);
  } catch (...) {
    platform::RemoveFile(path);
    throw;
  }
}

std::string TakeStagingFile(const std::string& path) {
  std::string bytes;
  try {
    bytes = platform::ReadPrivateFile(path);
  } catch (...) {
    platform::RemoveFile(path);
    throw;
  }
  platform::RemoveFile(path);
  return bytes;
}

}  // namespace vestrel
