#pragma once
// A log pane's Windows-1251 bytes, kept once, with the index of its lines, for
// a display that shows only the lines in view. The text grows at both ends:
// putting bytes in front or after the end costs those bytes alone.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>

namespace vestrel {

class LogText {
 public:
  // CR LF, LF and a lone CR each end a line, wherever the bytes were cut
  // between changes: a CR at the end of one piece and an LF at the start of
  // the next are one line break.
  std::size_t Size() const { return bytes_.size(); }
  std::size_t LineCount() const { return starts_.size() + 1; }
  // The byte where line `line` starts, and its bytes without the line break.
  std::size_t LineStart(std::size_t line) const;
  std::size_t LineEnd(std::size_t line) const;
  std::string Line(std::size_t line) const { return Bytes(LineStart(line), LineEnd(line)); }
  std::string Bytes(std::size_t from, std::size_t to) const;
  std::string Text() const { return Bytes(0, Size()); }

  void Assign(const std::string& bytes);
  void Prepend(const std::string& bytes);
  void Append(const std::string& bytes);

 private:
  // A line's start is kept as its offset minus every byte ever put in front,
  // modulo 2^32: putting bytes in front then moves no entry. A text up to
  // 4 GiB is indexed exactly.
  std::size_t Offset(std::uint32_t key) const {
    return static_cast<std::uint32_t>(key + prepended_);
  }
  std::uint32_t Key(std::size_t offset) const {
    return static_cast<std::uint32_t>(offset) - prepended_;
  }

  std::deque<char> bytes_;
  std::deque<std::uint32_t> starts_;  // the starts of every line after the first
  std::uint32_t prepended_ = 0;
};

}  // namespace vestrel
