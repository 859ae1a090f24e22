#pragma once
// What the window's two panes would show, kept for vestrel-sms: the command
// log and the modem log hold the same bytes as the window's, and every change
// goes to the --log file and to the progress shown on a terminal.

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "messaging/messaging_io.h"

namespace vestrel::cli {

// The --log file: one time-stamped line per command (">"), received chunk
// ("<", control bytes escaped) and line of the reading ("="), all UTF-8.
class TrafficLog {
 public:
  // A null file: nothing is written.
  explicit TrafficLog(std::FILE* file = nullptr) : file_(file) {}

  void Command(std::string_view line);
  void Received(std::string_view bytes);
  void ModemLine(std::string_view line);
  // A line about the run itself ("#"): the version, the port, the command line.
  void Note(std::string_view utf8);

 private:
  void Write(char kind, std::string_view utf8);
  std::FILE* file_;
};

// Progress on standard error, when that is a terminal: the count, each index
// read, each part sent and the pause between parts counting down.
class Progress {
 public:
  explicit Progress(bool shown) : shown_(shown) {}

  void Command(std::string_view line);
  void ModemLine(std::string_view line);
  void SendStarted(std::size_t parts);
  void PartWritten(std::size_t part);
  // Called often during a pause; shows the seconds left.
  void Pausing(std::uint32_t remaining_ms);
  // Ends a countdown line, if one is shown.
  void Finish();

 private:
  void Line(const std::string& utf8);

  bool shown_;
  std::size_t parts_ = 0;
  bool countdown_ = false;
  std::uint32_t countdown_seconds_ = 0;
};

// The command log (the window's Memo1).
class CommandPane : public LogPane {
 public:
  CommandPane(TrafficLog& log, Progress& progress) : log_(log), progress_(progress) {}

  std::string Text() const override { return text_; }
  void SetText(const std::string& text) override { text_ = text; }
  void AddLine(const std::string& line) override;

 private:
  std::string text_;
  TrafficLog& log_;
  Progress& progress_;
};

// The modem log (the window's Memo2): received chunks go in front, the lines of
// the reading at the end, exactly as in the window.
class ModemPane : public LogPane {
 public:
  ModemPane(TrafficLog& log, Progress& progress) : log_(log), progress_(progress) {}

  std::string Text() const override { return text_; }
  // A chunk announced with ChunkComing() goes in front without being logged
  // again; text added at the end is logged line by line.
  void SetText(const std::string& text) override;
  void AddLine(const std::string& line) override;
  // The next SetText puts a received chunk in front.
  void ChunkComing() { chunk_coming_ = true; }

 private:
  void Added(std::string_view lines);

  std::string text_;
  bool chunk_coming_ = false;
  TrafficLog& log_;
  Progress& progress_;
};

}  // namespace vestrel::cli
