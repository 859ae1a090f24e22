#pragma once
// Reading the phone's inbox in text mode: count the stored messages, read and
// delete every index, stage each received chunk in "tmp.sms", show every
// message found in the modem log, and read further indexes while fewer
// messages than counted have been found. Also the dispatcher of every chunk
// the modem sends.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "messaging/messaging_io.h"
#include "messaging/staging.h"

namespace vestrel {

// Storage capacity assumed when the "+CPMS:" answer does not give one.
inline constexpr std::int32_t kDefaultSmsCapacity = 255;

// A decimal number as the count wants it: leading blanks, one optional sign,
// digits, nothing else, within 32 bits.
std::optional<std::int32_t> ParseSmsNumber(std::string_view text);

// What the first "+CPMS:" of a chunk says.
struct StorageAnswer {
  std::string count_text;  // between "+CPMS:" plus one byte and the next comma
  std::optional<std::int32_t> count;
  std::int32_t capacity = kDefaultSmsCapacity;  // the second number, when it reads
};
StorageAnswer ParseStorageAnswer(std::string_view chunk);

class InboxReader {
 public:
  InboxReader(ModemPort& port, LogPane& command_log, LogPane& modem_log,
              MessagingDurations durations = {}, std::string staging_path = kStagingFileName);

  void Button4Click();
  void kol_SMS();
  void ReadAll_SMS(std::int32_t index);
  // Handles one chunk of received bytes. An exception leaving it ends the
  // handling of that chunk; what was done before stays.
  void BComPort1RxChar(int count);
  void Read_SMS();

  // The reading state, all 0 at the start.
  std::int32_t SmsTotal = 0;                       // messages counted by the last "+CPMS:" answer
  std::int32_t SmsShown = 0;                       // headers shown since the reading started
  std::int32_t ReadMore = 0;                       // 1 while indexes beyond the first pass are read
  std::int32_t NextIndex = 0;                      // the index the continuation read last
  std::int32_t SmsCapacity = kDefaultSmsCapacity;  // the highest index ever read
  bool ReadStopped = false;                        // the continuation reached the capacity

 private:
  void AddModemLine(const std::string& line);
  void TakeCount(std::string_view chunk);

  ModemPort& port_;
  LogPane& command_log_;
  LogPane& modem_log_;
  MessagingDurations durations_;
  std::string staging_path_;
};

}  // namespace vestrel
