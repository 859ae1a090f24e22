#include "cli/traffic.h"

#include <ctime>

#include "cli/console.h"
#include "platform/cp1251.h"

namespace vestrel::cli {
namespace {

bool StartsWith(std::string_view s, std::string_view prefix) {
  return s.substr(0, prefix.size()) == prefix;
}

}  // namespace

void TrafficLog::Command(std::string_view line) {
  Write('>', platform::ShownBytes(line));
}

void TrafficLog::Received(std::string_view bytes) {
  Write('<', platform::ShownBytes(bytes));
}

void TrafficLog::ModemLine(std::string_view line) {
  Write('=', platform::ShownBytes(line));
}

void TrafficLog::Note(std::string_view utf8) {
  Write('#', utf8);
}

void TrafficLog::Write(char kind, std::string_view utf8) {
  if (!file_) return;
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()) % 1000;
  const std::tm local = LocalTime(seconds);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
  std::fprintf(file_, "%s.%03d %c %.*s\n", stamp, static_cast<int>(ms.count()), kind,
               static_cast<int>(utf8.size()), utf8.data());
  std::fflush(file_);
}

void Progress::Command(std::string_view line) {
  constexpr std::string_view kRead = "AT+CMGR=";
  if (StartsWith(line, kRead)) Line("reading index " + std::string(line.substr(kRead.size())));
}

void Progress::ModemLine(std::string_view line) {
  static const std::string reading = platform::Cp1251FromUtf8("Читаем СМС");
  static const std::string message = platform::Cp1251FromUtf8("№ тел: ");
  // Messages go to standard output; each staged chunk is no news.
  if (line == reading || StartsWith(line, message)) return;
  Line(platform::Cp1251ToUtf8(line));
}

void Progress::SendStarted(std::size_t parts) {
  parts_ = parts;
}

void Progress::PartWritten(std::size_t part) {
  Line("part " + std::to_string(part) + " of " + std::to_string(parts_) + " written");
}

void Progress::Pausing(std::uint32_t remaining_ms) {
  if (!shown_) return;
  const std::uint32_t seconds = (remaining_ms + 999) / 1000;
  if (countdown_ && seconds == countdown_seconds_) return;
  countdown_ = true;
  countdown_seconds_ = seconds;
  std::fprintf(stderr, "\rpause: %u s ", static_cast<unsigned>(seconds));
  std::fflush(stderr);
}

void Progress::Finish() {
  if (!countdown_) return;
  countdown_ = false;
  std::fputc('\n', stderr);
}

void Progress::Line(const std::string& utf8) {
  if (!shown_) return;
  Finish();
  std::fprintf(stderr, "%s\n", utf8.c_str());
}

void CommandPane::AddLine(const std::string& line) {
  if (!text_.empty()) text_ += "\r\n";
  text_ += line;
  log_.Command(line);
  progress_.Command(line);
}

void ModemPane::SetText(const std::string& text) {
  const bool chunk = chunk_coming_;
  chunk_coming_ = false;
  if (!chunk && text.size() > text_.size() && text.compare(0, text_.size(), text_) == 0)
    Added(std::string_view(text).substr(text_.size()));
  text_ = text;
}

void ModemPane::AddLine(const std::string& line) {
  SetText(text_.empty() ? line : text_ + "\r\n" + line);
}

void ModemPane::Added(std::string_view lines) {
  // The reading appends each line after CR LF.
  while (!lines.empty()) {
    if (StartsWith(lines, "\r\n")) lines.remove_prefix(2);
    const std::size_t end = lines.find("\r\n");
    const std::string_view line = lines.substr(0, end);
    log_.ModemLine(line);
    progress_.ModemLine(line);
    if (end == std::string_view::npos) break;
    lines.remove_prefix(end);
  }
}

}  // namespace vestrel::cli
