#include "messaging/reading_config.h"

namespace vestrel {
namespace {

std::string UpperTrimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  std::string upper(text);
  for (char& c : upper)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return upper;
}

}  // namespace

std::optional<std::string> ParseReadingMemory(std::string_view text) {
  const std::string upper = UpperTrimmed(text);
  for (std::string_view memory : kReadingMemories)
    if (upper == memory) return upper;
  return std::nullopt;
}

std::optional<ReadingMode> ParseReadingMode(std::string_view text) {
  const std::string upper = UpperTrimmed(text);
  if (upper == "PDU") return ReadingMode::kPdu;
  if (upper == "TEXT") return ReadingMode::kText;
  return std::nullopt;
}

std::string FormatCommand(const ReadingConfig& config) {
  // The text mode's command keeps the lower case the window always wrote.
  return config.mode == ReadingMode::kPdu ? "AT+CMGF=0" : "at+cmgf=1";
}

std::string MemoryCommand(const ReadingConfig& config) {
  return "AT+CPMS=\"" + config.memory + "\"";
}

}  // namespace vestrel
