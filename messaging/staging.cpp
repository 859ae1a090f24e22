#include "messaging/staging.h"

#include <cstdio>
#include <optional>

#include "messaging/at_answers.h"
#include "messaging/ucs2_codec.h"
#include "platform/cp1251.h"
#include "platform/private_file.h"

namespace vestrel {
namespace {

constexpr char kCtrlZ = 26;
constexpr std::size_t kTimeBytes = 17;

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
  // "+CMGR: <stat>,<oa>,[<alpha>],<scts>..." for a received message.
  const std::vector<std::string> fields = HeaderFields(header);
  const bool received = fields[0] == "REC READ" || fields[0] == "REC UNREAD";
  if (received && fields.size() > 1) message.number = fields[1];
  if (received && fields.size() > 3) {
    message.time = fields[3].substr(0, kTimeBytes);
    message.sent_at = SentAtFromTimestamp(fields[3]);
  }
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = body.find('\n', start);
    message.text += Ucs2HexToText(body.substr(start, end - start));
    if (end == std::string_view::npos) break;
    message.text += '\n';
    start = end + 1;
  }
  return message;
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
