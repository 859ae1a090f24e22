#include "messaging/log_text.h"

#include <vector>

namespace vestrel {

std::size_t LogText::LineStart(std::size_t line) const {
  return line == 0 ? 0 : Offset(starts_[line - 1]);
}

std::size_t LogText::LineEnd(std::size_t line) const {
  if (line + 1 >= LineCount()) return Size();
  std::size_t end = Offset(starts_[line]);
  // One line break: CR LF, LF or CR.
  const std::size_t start = LineStart(line);
  if (bytes_[end - 1] == '\n' && end - 1 > start && bytes_[end - 2] == '\r') return end - 2;
  return end - 1;
}

std::string LogText::Bytes(std::size_t from, std::size_t to) const {
  const auto first = bytes_.begin() + static_cast<std::ptrdiff_t>(from);
  return std::string(first, first + static_cast<std::ptrdiff_t>(to - from));
}

void LogText::Assign(const std::string& bytes) {
  bytes_.clear();
  starts_.clear();
  prepended_ = 0;
  // Shrinking keeps a day's log from staying allocated after a reset.
  bytes_.shrink_to_fit();
  starts_.shrink_to_fit();
  Append(bytes);
}

void LogText::Prepend(const std::string& bytes) {
  if (bytes.empty()) return;
  const std::size_t n = bytes.size();
  std::vector<std::size_t> starts;  // offsets in the new text
  for (std::size_t i = 0; i < n; ++i) {
    if (bytes[i] == '\n') {
      starts.push_back(i + 1);
    } else if (bytes[i] == '\r') {
      if (i + 1 < n && bytes[i + 1] == '\n') {
        starts.push_back(i + 2);
        ++i;
      } else if (i + 1 < n || bytes_.empty() || bytes_.front() != '\n') {
        starts.push_back(i + 1);
      }
      // else: with the LF in front of the old text it makes one break, whose
      // line start the old text already has.
    }
  }
  prepended_ += static_cast<std::uint32_t>(n);
  bytes_.insert(bytes_.begin(), bytes.begin(), bytes.end());
  for (auto it = starts.rbegin(); it != starts.rend(); ++it) starts_.push_front(Key(*it));
}

void LogText::Append(const std::string& bytes) {
  if (bytes.empty()) return;
  const std::size_t base = bytes_.size();
  const std::size_t n = bytes.size();
  std::size_t i = 0;
  if (base > 0 && bytes_.back() == '\r' && bytes[0] == '\n') {
    // The old text's last CR and this LF are one break: its line starts after both.
    starts_.back() = Key(base + 1);
    i = 1;
  }
  bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
  for (; i < n; ++i) {
    if (bytes[i] == '\n') {
      starts_.push_back(Key(base + i + 1));
    } else if (bytes[i] == '\r') {
      if (i + 1 < n && bytes[i + 1] == '\n') ++i;
      starts_.push_back(Key(base + i + 1));
    }
  }
}

}  // namespace vestrel
