#include "messaging/staging.h"

#include <cstdio>
#include <optional>

#include "messaging/answer_scanner.h"
#include "messaging/ucs2_codec.h"
#include "platform/cp1251.h"
#include "platform/private_file.h"

namespace vestrel {
namespace {

constexpr char kCtrlZ = 26;
constexpr std::string_view kHeaderMark = "+CMGR:";
constexpr std::size_t kTimeBytes = 17;

bool IsDigits(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  return true;
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

std::vector<std::string> HeaderFields(std::string_view header) {
  const std::size_t mark = header.find(kHeaderMark);
  if (mark != std::string_view::npos) header.remove_prefix(mark + kHeaderMark.size());
  while (!header.empty() && header.front() == ' ') header.remove_prefix(1);
  std::vector<std::string> fields(1);
  bool quoted = false;
  for (char c : header) {
    if (c == '"') {
      quoted = !quoted;
    } else if (c == ',' && !quoted) {
      fields.emplace_back();
    } else {
      fields.back() += c;
    }
  }
  return fields;
}

std::string SentAtFromTimestamp(std::string_view stamp) {
  // yy/MM/dd,hh:mm:ss then the zone: a sign and quarter hours.
  if (stamp.size() < 19 || stamp[2] != '/' || stamp[5] != '/' || stamp[8] != ',' ||
      stamp[11] != ':' || stamp[14] != ':' || (stamp[17] != '+' && stamp[17] != '-'))
    return {};
  for (std::size_t at : {0u, 3u, 6u, 9u, 12u, 15u})
    if (!IsDigits(stamp.substr(at, 2))) return {};
  const std::string_view zone = stamp.substr(18);
  if (!IsDigits(zone) || zone.size() > 2) return {};
  const int quarters = std::stoi(std::string(zone));
  if (quarters > 56) return {};  // beyond ±14:00
  char offset[16];
  std::snprintf(offset, sizeof offset, "%c%02d:%02d", stamp[17], quarters / 4, quarters % 4 * 15);
  std::string iso = "20";
  iso.append(stamp.substr(0, 2)).append("-").append(stamp.substr(3, 2)).append("-");
  iso.append(stamp.substr(6, 2)).append("T").append(stamp.substr(9, 8)).append(offset);
  return iso;
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

std::vector<ListedMessage> ParseStaged(std::string_view bytes) {
  AnswerScanner scanner;
  std::vector<ListedMessage> messages;
  for (FoundMessage& found : scanner.Scan(bytes)) messages.push_back(std::move(found.message));
  if (auto last = scanner.Flush()) messages.push_back(std::move(last->message));
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
