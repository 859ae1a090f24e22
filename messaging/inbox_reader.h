#pragma once
// Reading the phone's inbox in text mode: count the stored messages, read and
// delete every index, stage each received chunk in "tmp.sms", show every
// message found in the modem log, and read further indexes while fewer
// messages than counted have been found. Also the dispatcher of every chunk
// the modem sends.
//
// Every message has been deleted from the phone by the time its answer is
// parsed, so the parse must not lose one: answers cut between chunks wait for
// their rest, message text never passes for a count or a header, and a
// staging file that cannot be used is replaced by the bytes in memory.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "messaging/answer_scanner.h"
#include "messaging/dialogue_stop.h"
#include "messaging/message_record.h"
#include "messaging/messaging_io.h"
#include "messaging/staging.h"

namespace vestrel {

// Storage capacity assumed when the "+CPMS:" answer does not give one.
inline constexpr std::int32_t kDefaultSmsCapacity = 255;
// No message storage of a phone or modem holds more: SIM cards hold up to 255,
// phone memories a few hundred. A larger count or capacity is a fault of the
// device, and reading and deleting that many places would take hours.
inline constexpr std::int32_t kMaxSmsStorage = 1000;

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
              MessagingDurations durations = {}, std::string staging_path = kStagingFileName,
              const DialogueStop* stop = nullptr);

  // Where shown messages and the bytes of a reading are kept; null: nowhere.
  void SetRecord(MessageRecord* record) { record_ = record; }

  void Button4Click();
  void kol_SMS();
  void ReadAll_SMS(std::int32_t index);
  // Handles one chunk of received bytes. An exception leaving it ends the
  // handling of that chunk; what was done before stays.
  void BComPort1RxChar(int count);
  // Parses bytes that went through the staging file (or, when it could not be
  // used, the same bytes from memory), shows every message, and decides on
  // the continuation.
  void Read_SMS(std::string_view staged);

  // A reading is under way: its count or some of its answers are still due.
  bool ReadingUnderWay() const;

  // The reading state, all 0 at the start.
  std::int32_t SmsTotal = 0;                       // messages counted by the last "+CPMS:" answer
  std::int32_t SmsShown = 0;                       // headers shown since the reading started
  std::int32_t ReadMore = 0;                       // 1 while indexes beyond the first pass are read
  std::int32_t NextIndex = 0;                      // the index the continuation read last
  std::int32_t SmsCapacity = kDefaultSmsCapacity;  // the highest index ever read
  bool ReadStopped = false;                        // the continuation reached the capacity

 private:
  void AddModemLine(const std::string& line);
  // Writes one command of the reading (its line in the command log unless
  // logged is false) and waits.
  void Command(const std::string& command, bool logged, const platform::EventHandle& et);
  // Takes the count from its line; the reason when the line gives none.
  std::optional<std::string> TakeCount(std::string_view line);
  void StageAndRead(const std::string& part);
  void ShowFound(std::vector<FoundMessage> found);
  void WriteSummaryWhenDue();
  // Parses what a previous reading still held back, so that nothing received is dropped.
  void FlushHeld();

  ModemPort& port_;
  LogPane& command_log_;
  LogPane& modem_log_;
  MessagingDurations durations_;
  std::string staging_path_;
  const DialogueStop* stop_;
  MessageRecord* record_ = nullptr;

  AnswerScanner scanner_;
  std::string held_;                // received bytes not yet parsed: an unfinished answer
  bool count_awaited_ = false;      // from kol_SMS until a count line has been taken
  std::int64_t commands_sent_ = 0;  // commands of this reading, each answered by a final result
  bool summary_due_ = false;        // "Найдено СМС" once the last answer is in
  bool staging_failure_told_ = false;
};

}  // namespace vestrel
