#pragma once
// Reading the phone's inbox in text mode: count the stored messages, read and
// delete every index, stage each received chunk in "tmp.sms", show every
// message found in the modem log, and read further indexes while fewer
// messages than counted have been found. Also the dispatcher of every chunk
// the modem sends.
//
// A message is deleted only once the whole answer to its read has arrived
// and has been kept (MessageRecord::AnswerReceived): during the wait after
// each read the answer is taken into the port's hold and listened to, without
// being handled as a chunk, so that the modem log and the parse see the
// chunks as they come. The parse must not lose a message either: answers cut
// between chunks wait for their rest, message text never passes for a count
// or a header, and a staging file that cannot be used is replaced by the
// bytes in memory.

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "messaging/answer_scanner.h"
#include "messaging/dialogue_stop.h"
#include "messaging/message_record.h"
#include "messaging/messaging_io.h"
#include "messaging/reading_config.h"
#include "messaging/staging.h"
#include "platform/exceptions.h"

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

// A reading stopped before a delete, its message left on the phone: its
// answer never came whole, or could not be kept. The message says which.
class ReadingHalted : public platform::Exception {
 public:
  using platform::Exception::Exception;
};

// The step of the wait for the rest of an answer.
inline constexpr std::uint32_t kAnswerStepMs = 20;

class InboxReader {
 public:
  InboxReader(ModemPort& port, LogPane& command_log, LogPane& modem_log,
              MessagingDurations durations = {}, std::string staging_path = kStagingFileName,
              const DialogueStop* stop = nullptr);

  // Where shown messages and the bytes of a reading are kept; null: nowhere.
  void SetRecord(MessageRecord* record) { record_ = record; }
  // Mode and memory of the readings that start from now on.
  void SetConfig(ReadingConfig config) { config_ = std::move(config); }
  const ReadingConfig& Config() const { return config_; }

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
  // After the read of index: waits on until its whole answer is in the port's
  // hold, then keeps it. Throws ReadingHalted when it never comes or cannot
  // be kept: the message must then stay on the phone. Returns the group of
  // a concatenated message's part that is to stay on the phone until its
  // message is whole (the record keeps no parts); empty otherwise.
  std::string AwaitAnswer(std::int32_t index);
  // Follows the bytes from the count line on (held: taken by a hold, not yet
  // handed over as a chunk) to know when each answer has ended.
  void StartListening(const std::string& after_count);
  void Listen(std::string_view bytes, bool held);
  // Takes the count from its line; the reason when the line gives none.
  std::optional<std::string> TakeCount(std::string_view line);
  void StageAndRead(const std::string& part);
  void ShowFound(std::vector<FoundMessage> found);
  // PDU mode: a part of a concatenated message waits for the rest of it.
  void Gather(const std::string& key, FoundMessage part);
  void ShowJoined(const FoundMessage& joined);
  // The messages whose parts have not all come, shown as incomplete.
  void ShowUnfinished();
  void WriteSummaryWhenDue();
  // Ends a reading that stopped: no continuation, no summary.
  void Halt();
  // Parses what a previous reading still held back, so that nothing received is dropped.
  void FlushHeld();

  ModemPort& port_;
  LogPane& command_log_;
  LogPane& modem_log_;
  MessagingDurations durations_;
  std::string staging_path_;
  const DialogueStop* stop_;
  MessageRecord* record_ = nullptr;
  ReadingConfig config_;
  // PDU mode: the parts of concatenated messages still waiting for the rest,
  // in the order their first parts came, and the places of those left on
  // the phone, by group.
  std::vector<std::pair<std::string, std::vector<FoundMessage>>> gathered_;
  std::vector<std::pair<std::string, std::int32_t>> left_on_phone_;
  std::set<std::pair<std::string, std::string>> joined_parts_;  // group, PDU line: shown whole

  AnswerScanner scanner_;
  std::string held_;  // received bytes not yet parsed: an unfinished answer
  // The listening to answers before their messages are deleted.
  bool listening_ = false;
  AnswerScanner listener_;
  std::string listener_tail_;     // an unfinished line the listener waits to complete
  std::int64_t results_due_ = 0;  // final results due since the count line
  std::size_t held_unread_ = 0;   // bytes in the port's hold not yet read as a chunk
  std::string unkept_bytes_;      // held bytes not yet handed to the record
  std::vector<FoundMessage> unkept_messages_;
  // Messages handed to the record before they were shown: not handed again.
  std::multiset<std::pair<std::string, std::string>> kept_ahead_;
  std::int32_t uncounted_ = 0;      // leftovers of an earlier reading still to be shown
  bool count_awaited_ = false;      // from kol_SMS until a count line has been taken
  std::int64_t commands_sent_ = 0;  // commands of this reading, each answered by a final result
  bool summary_due_ = false;        // "Найдено СМС" once the last answer is in
  bool staging_failure_told_ = false;
};

}  // namespace vestrel
