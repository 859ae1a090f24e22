#include "messaging/inbox_reader.h"

#include <algorithm>
#include <limits>

#include "messaging/pdu_messages.h"
#include "platform/cp1251.h"
#include "platform/exceptions.h"
#include "platform/messages.h"

namespace vestrel {
namespace {

constexpr std::string_view kStorageMark = "+CPMS:";
constexpr std::string_view kHeaderMark = "+CMGR:";
constexpr std::size_t kCountTextShown = 24;

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

bool Holds(std::string_view chunk, std::string_view mark) {
  return chunk.find(mark) != std::string_view::npos;
}

// The count text as the operator may see it in a message box.
std::string Printable(std::string_view text) {
  std::string shown(text.substr(0, kCountTextShown));
  for (char& c : shown)
    if (static_cast<unsigned char>(c) < ' ') c = ' ';
  if (text.size() > kCountTextShown) shown += "...";
  return shown;
}

}  // namespace

std::optional<std::int32_t> ParseSmsNumber(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  if (text.empty()) return std::nullopt;
  std::int64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
    if (value > std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1) return std::nullopt;
  }
  if (negative) value = -value;
  if (value > std::numeric_limits<std::int32_t>::max()) return std::nullopt;
  return static_cast<std::int32_t>(value);
}

StorageAnswer ParseStorageAnswer(std::string_view chunk) {
  StorageAnswer answer;
  const std::size_t mark = chunk.find(kStorageMark);
  if (mark == std::string_view::npos) return answer;
  // The modem puts a space after the colon; that byte is skipped unread.
  const std::size_t start = mark + kStorageMark.size() + 1;
  const std::size_t comma = chunk.find(',', mark + kStorageMark.size());
  // No comma, or one right after the colon: an empty count text, which fails.
  if (comma == std::string_view::npos || start > comma) return answer;
  answer.count_text = std::string(chunk.substr(start, comma - start));
  answer.count = ParseSmsNumber(answer.count_text);
  const std::size_t end = chunk.find_first_of(",\r\n", comma + 1);
  const auto capacity = ParseSmsNumber(chunk.substr(
      comma + 1, end == std::string_view::npos ? std::string_view::npos : end - comma - 1));
  if (capacity && *capacity > 0) answer.capacity = *capacity;
  return answer;
}

InboxReader::InboxReader(ModemPort& port, LogPane& command_log, LogPane& modem_log,
                         MessagingDurations durations, std::string staging_path,
                         const DialogueStop* stop)
    : port_(port),
      command_log_(command_log),
      modem_log_(modem_log),
      durations_(durations),
      staging_path_(std::move(staging_path)),
      stop_(stop) {}

void InboxReader::Button4Click() {
  port_.Open();
  modem_log_.SetText({});
  kol_SMS();
}

void InboxReader::kol_SMS() {
  FlushHeld();
  ShowUnfinished();
  if (record_) record_->ReadingStarted();
  SmsTotal = 0;
  ReadMore = 0;
  SmsShown = 0;
  SmsCapacity = kDefaultSmsCapacity;
  ReadStopped = false;
  count_awaited_ = true;
  scanner_.Reset();
  scanner_.SetPduMode(config_.mode == ReadingMode::kPdu);
  listener_.SetPduMode(config_.mode == ReadingMode::kPdu);
  commands_sent_ = 0;
  summary_due_ = false;
  staging_failure_told_ = false;
  listening_ = false;
  // Bytes a hold took before a port was closed never come: at worst what
  // still comes of them is kept twice, never skipped.
  held_unread_ = 0;
  unkept_bytes_.clear();
  unkept_messages_.clear();
  kept_ahead_.clear();
  joined_parts_.clear();
  uncounted_ = 0;
  const platform::EventHandle et = platform::OpenModemWaitEvent();
  // The text mode's format command never had a line in the command log.
  Command(FormatCommand(config_), config_.mode == ReadingMode::kPdu, et);
  Command(MemoryCommand(config_), true, et);
}

void InboxReader::ReadAll_SMS(std::int32_t index) {
  const platform::EventHandle et = platform::OpenModemWaitEvent();
  Command("AT+CMGR=" + std::to_string(index), true, et);
  // The delete goes out whatever the modem answered to the read, but only
  // once that answer is in and kept.
  const std::string left = AwaitAnswer(index);
  if (!left.empty()) {
    const std::pair<std::string, std::int32_t> place{left, index};
    if (std::find(left_on_phone_.begin(), left_on_phone_.end(), place) == left_on_phone_.end())
      left_on_phone_.push_back(place);
    return;
  }
  Command("AT+CMGD=" + std::to_string(index), true, et);
}

void InboxReader::Command(const std::string& command, bool logged,
                          const platform::EventHandle& et) {
  // Stopping before a delete leaves the message on the phone: nothing is lost.
  if (stop_) stop_->AtBoundary();
  port_.WriteStr(command + "\r");
  ++commands_sent_;
  if (listening_) ++results_due_;
  if (logged) command_log_.AddLine(command);
  durations_.ModemWait(et);
}

void InboxReader::StartListening(const std::string& after_count) {
  listening_ = true;
  listener_.Reset();
  listener_tail_.clear();
  // The answer to the count itself ends after its line.
  results_due_ = 1;
  Listen(after_count, false);
}

void InboxReader::Listen(std::string_view bytes, bool held) {
  listener_tail_ += bytes;
  const std::size_t complete = CompletePartLength(listener_tail_);
  std::vector<FoundMessage> found =
      listener_.Scan(std::string_view(listener_tail_).substr(0, complete));
  listener_tail_.erase(0, complete);
  // Messages of chunks already handed over are shown (and kept) as they are parsed.
  if (held)
    for (FoundMessage& message : found) unkept_messages_.push_back(std::move(message));
}

std::string InboxReader::AwaitAnswer(std::int32_t index) {
  const std::uint32_t start = platform::TickCount();
  for (;;) {
    const std::string got = port_.HoldArrived();
    held_unread_ += got.size();
    unkept_bytes_ += got;
    Listen(got, true);
    // Every command's final result is in; or, should an earlier answer have
    // lacked its own, one after this read's echo.
    if (listener_.FinalResults() >= results_due_ || listener_.LastAnsweredRead() == index) break;
    if (platform::TickCount() - start >= durations_.answer_wait_ms) {
      static const std::string before =
          platform::Cp1251FromUtf8("Модем не ответил на чтение СМС №");
      static const std::string after =
          platform::Cp1251FromUtf8(": чтение остановлено, СМС оставлены в телефоне");
      throw ReadingHalted(before + std::to_string(index) + after);
    }
    platform::SleepMs(kAnswerStepMs);
  }
  std::vector<FoundMessage> messages = std::move(unkept_messages_);
  unkept_messages_.clear();
  const bool kept = !record_ || record_->AnswerReceived(unkept_bytes_, messages);
  unkept_bytes_.clear();
  // What was kept is not handed over again once shown; what was not is.
  if (kept)
    for (const FoundMessage& message : messages)
      kept_ahead_.emplace(message.header_line, message.body_line);
  if (!kept) {
    static const std::string before = platform::Cp1251FromUtf8("Ответ на чтение СМС №");
    static const std::string after =
        platform::Cp1251FromUtf8(" не сохранён: чтение остановлено, СМС оставлены в телефоне");
    throw ReadingHalted(before + std::to_string(index) + after);
  }
  if (!record_ || record_->KeepsParts()) return {};
  for (const FoundMessage& message : messages) {
    std::string key = PartGroupKey(message);
    if (!key.empty()) return key;
  }
  return {};
}

bool InboxReader::ReadingUnderWay() const {
  return count_awaited_ || ReadMore == 1 || summary_due_ ||
         (SmsTotal > 0 && scanner_.FinalResults() < commands_sent_);
}

void InboxReader::BComPort1RxChar(int count) {
  const std::string chunk = port_.ReadStr(count);
  // The chunk begins with what the hold took; that is kept already.
  const std::size_t kept = std::min(held_unread_, chunk.size());
  held_unread_ -= kept;
  const std::string_view fresh = std::string_view(chunk).substr(kept);
  std::string shown = chunk;
  if (!shown.empty() && shown.back() == '\r') shown += '\n';
  modem_log_.Prepend(shown);
  if (record_) record_->ChunkReceived(fresh, ReadingUnderWay() || Holds(chunk, kHeaderMark));
  if (listening_) Listen(fresh, false);

  // Only whole answers are parsed; the rest waits for the next chunk.
  held_ += chunk;
  const std::size_t complete = CompletePartLength(held_);
  std::string part = held_.substr(0, complete);
  held_.erase(0, complete);

  // A count is taken only while one is awaited, and only from a line of its
  // own: "+CPMS:" inside a message is message text. The rest of the chunk is
  // parsed after the first pass instead of being emptied, so that answers
  // that came with the count are not lost.
  std::optional<std::string> count_failure;
  if (count_awaited_) {
    auto marked = FindLineStartingWith(part, kStorageMark);
    if (!marked && complete == part.size() && !part.empty() && part.back() != '\n') {
      // A count line too long to wait for is no count either.
      const std::size_t line_start =
          part.rfind('\n') == std::string::npos ? 0 : part.rfind('\n') + 1;
      if (std::string_view(part).substr(line_start).starts_with(kStorageMark))
        marked = MarkedLine{part.substr(0, line_start), part.substr(line_start), {}};
    }
    if (marked) {
      count_awaited_ = false;
      // Answers of an earlier reading before the count are shown, not counted.
      AnswerScanner probe = scanner_;
      uncounted_ = static_cast<std::int32_t>(probe.Scan(marked->before).size());
      part = marked->before + marked->after;
      StartListening(marked->after + held_);
      count_failure = TakeCount(marked->line);
    }
  }
  if (HasLineStartingWith(part, kHeaderMark) || ReadMore == 1 ||
      (SmsTotal > 0 && SmsShown == 0 && !ReadStopped)) {
    StageAndRead(part);
  } else {
    ShowFound(scanner_.Scan(part));
  }
  WriteSummaryWhenDue();
  // Once every answer is in, what is still missing parts is shown as it is.
  if (!ReadingUnderWay()) ShowUnfinished();
  if (count_failure) throw platform::Exception(*count_failure);
}

std::optional<std::string> InboxReader::TakeCount(std::string_view line) {
  const StorageAnswer answer = ParseStorageAnswer(line);
  const bool too_large =
      (answer.count && *answer.count > kMaxSmsStorage) || answer.capacity > kMaxSmsStorage;
  if (!answer.count || *answer.count < 0 || too_large) {
    static const std::string message =
        platform::Cp1251FromUtf8("Модем сообщил число СМС в непонятном виде: ");
    return message + "\"" + Printable(answer.count_text) + "\"";
  }
  SmsTotal = *answer.count;
  SmsCapacity = answer.capacity;
  if (SmsTotal <= 0) return std::nullopt;
  static const std::string before = platform::Cp1251FromUtf8("У Вас ");
  static const std::string after = platform::Cp1251FromUtf8(" СМС");
  AddModemLine(before + std::to_string(SmsTotal) + after);
  const std::int32_t total = SmsTotal;
  try {
    // No index above the storage's capacity holds a message.
    for (std::int32_t index = 0; index < total && index <= SmsCapacity; ++index) ReadAll_SMS(index);
  } catch (const ReadingHalted& halted) {
    Halt();
    return halted.what();
  }
  return std::nullopt;
}

void InboxReader::Halt() {
  ShowUnfinished();
  ReadMore = 0;
  ReadStopped = true;
  summary_due_ = false;
}

void InboxReader::StageAndRead(const std::string& part) {
  static const std::string reading = platform::Cp1251FromUtf8("Читаем СМС");
  AddModemLine(reading);
  std::string staged;
  try {
    staged = StageThroughFile(staging_path_, part);
  } catch (const platform::Exception&) {
    // The messages are already deleted from the phone: parse them from
    // memory, and tell the operator once per reading.
    staged = part;
    if (!staging_failure_told_) {
      staging_failure_told_ = true;
      platform::ReportException(std::current_exception());
    }
  }
  Read_SMS(staged);
}

void InboxReader::Read_SMS(std::string_view staged) {
  ShowFound(scanner_.Scan(staged));
  if (SmsShown >= SmsTotal || ReadStopped) {
    ReadMore = 0;
    return;
  }
  const std::int64_t next = ReadMore == 0 ? std::int64_t{SmsTotal} : std::int64_t{NextIndex} + 1;
  if (next > SmsCapacity) {
    // The summary waits until the answers of every read are in.
    ReadMore = 0;
    ReadStopped = true;
    summary_due_ = true;
    return;
  }
  NextIndex = static_cast<std::int32_t>(next);
  ReadMore = 1;
  try {
    ReadAll_SMS(NextIndex);
  } catch (const ReadingHalted&) {
    Halt();
    throw;
  }
}

void InboxReader::ShowFound(std::vector<FoundMessage> found) {
  for (FoundMessage& message : found) {
    const std::string key = PartGroupKey(message);
    if (key.empty()) AddModemLine(FoundLogLine(message));
    // Answers of an earlier reading, before the count or in its chunk, are
    // no part of this one: counted, they would end it before index n.
    if (!count_awaited_) {
      if (uncounted_ > 0) {
        --uncounted_;
      } else {
        ++SmsShown;
      }
    }
    const auto ahead = kept_ahead_.find({message.header_line, message.body_line});
    if (ahead != kept_ahead_.end()) {
      kept_ahead_.erase(ahead);
    } else if (record_) {
      record_->MessageShown(message);
    }
    if (!key.empty()) Gather(key, std::move(message));
  }
}

void InboxReader::Gather(const std::string& key, FoundMessage part) {
  // A part left on the phone may be read again after its message was shown.
  if (joined_parts_.contains({key, part.body_line})) return;
  auto group = std::find_if(gathered_.begin(), gathered_.end(),
                            [&key](const auto& gathered) { return gathered.first == key; });
  if (group == gathered_.end()) {
    // This part first, so that it wins over a kept copy of itself.
    std::vector<FoundMessage> parts{part};
    if (record_)
      for (FoundMessage& earlier : record_->EarlierParts(part)) parts.push_back(std::move(earlier));
    group = gathered_.insert(gathered_.end(), {key, std::move(parts)});
  } else {
    group->second.push_back(std::move(part));
  }
  const FoundMessage joined = JoinedFound(group->second);
  if (joined.parts_present < joined.parts_total) return;
  for (const FoundMessage& shown : group->second) joined_parts_.emplace(key, shown.body_line);
  gathered_.erase(group);
  ShowJoined(joined);
  // Its parts left on the phone go now that it is whole and shown.
  std::vector<std::int32_t> places;
  std::erase_if(left_on_phone_, [&](const auto& left) {
    if (left.first != key) return false;
    places.push_back(left.second);
    return true;
  });
  const platform::EventHandle et = platform::OpenModemWaitEvent();
  for (std::int32_t index : places) Command("AT+CMGD=" + std::to_string(index), true, et);
}

void InboxReader::ShowJoined(const FoundMessage& joined) {
  AddModemLine(FoundLogLine(joined));
  if (record_) record_->MessageJoined(joined);
}

void InboxReader::ShowUnfinished() {
  std::vector<std::pair<std::string, std::vector<FoundMessage>>> unfinished;
  unfinished.swap(gathered_);
  // Their parts left on the phone stay there for a later reading to join.
  left_on_phone_.clear();
  for (const auto& [key, parts] : unfinished) ShowJoined(JoinedFound(parts));
}

void InboxReader::WriteSummaryWhenDue() {
  if (!summary_due_ || scanner_.FinalResults() < commands_sent_) return;
  summary_due_ = false;
  if (SmsShown >= SmsTotal) return;
  static const std::string found = platform::Cp1251FromUtf8("Найдено СМС: ");
  static const std::string of = platform::Cp1251FromUtf8(" из ");
  AddModemLine(found + std::to_string(SmsShown) + of + std::to_string(SmsTotal));
}

void InboxReader::FlushHeld() {
  if (held_.empty()) return;
  std::string held = std::move(held_);
  held_.clear();
  // An answer whose end never came is shown as far as it came.
  std::vector<FoundMessage> found = scanner_.Scan(held);
  if (auto last = scanner_.Flush()) found.push_back(std::move(*last));
  ShowFound(std::move(found));
}

void InboxReader::AddModemLine(const std::string& line) {
  modem_log_.Append("\r\n" + line);
}

}  // namespace vestrel
