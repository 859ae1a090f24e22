#pragma once
// How a reading talks to the modem: in text mode (the window's described
// dialogue) or in PDU mode, and which message memory it counts and reads.
// A plain struct that every front end fills from its own options or keys.

#include <optional>
#include <string>
#include <string_view>

namespace vestrel {

enum class ReadingMode { kText, kPdu };

struct ReadingConfig {
  ReadingMode mode = ReadingMode::kText;
  std::string memory = "ME";  // one of kReadingMemories
};

// The memories of 27.005 a reading may use: the SIM, the phone, either.
inline constexpr std::string_view kReadingMemories[] = {"SM", "ME", "MT"};

// "sm", " ME " and the like as the memory's name; nothing for any other text.
std::optional<std::string> ParseReadingMemory(std::string_view text);
// "PDU" or "TEXT" (any case, blanks around ignored); nothing for any other text.
std::optional<ReadingMode> ParseReadingMode(std::string_view text);

// The commands that start a reading: the message format, then the memory.
std::string FormatCommand(const ReadingConfig& config);
std::string MemoryCommand(const ReadingConfig& config);

}  // namespace vestrel
