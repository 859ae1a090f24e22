#include "messaging/inbox_reader.h"

#include <limits>

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
  if (record_) record_->ReadingStarted();
  SmsTotal = 0;
  ReadMore = 0;
  SmsShown = 0;
  SmsCapacity = kDefaultSmsCapacity;
  ReadStopped = false;
  count_awaited_ = true;
  scanner_.Reset();
  commands_sent_ = 0;
  summary_due_ = false;
  staging_failure_told_ = false;
  const platform::EventHandle et = platform::OpenModemWaitEvent();
  Command("at+cmgf=1", false, et);
  Command("AT+CPMS=\"ME\"", true, et);
}

void InboxReader::ReadAll_SMS(std::int32_t index) {
  const platform::EventHandle et = platform::OpenModemWaitEvent();
  Command("AT+CMGR=" + std::to_string(index), true, et);
  // The delete goes out whatever the modem answered to the read.
  Command("AT+CMGD=" + std::to_string(index), true, et);
}

void InboxReader::Command(const std::string& command, bool logged,
                          const platform::EventHandle& et) {
  // Stopping before a delete leaves the message on the phone: nothing is lost.
  if (stop_) stop_->AtBoundary();
  port_.WriteStr(command + "\r");
  ++commands_sent_;
  if (logged) command_log_.AddLine(command);
  durations_.ModemWait(et);
}

bool InboxReader::ReadingUnderWay() const {
  return count_awaited_ || ReadMore == 1 || summary_due_ ||
         (SmsTotal > 0 && scanner_.FinalResults() < commands_sent_);
}

void InboxReader::BComPort1RxChar(int count) {
  const std::string chunk = port_.ReadStr(count);
  std::string shown = chunk;
  if (!shown.empty() && shown.back() == '\r') shown += '\n';
  modem_log_.Prepend(shown);
  if (record_) record_->ChunkReceived(chunk, ReadingUnderWay() || Holds(chunk, kHeaderMark));

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
    if (auto marked = FindLineStartingWith(part, kStorageMark)) {
      count_awaited_ = false;
      part = marked->before + marked->after;
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
  if (count_failure) throw platform::Exception(*count_failure);
}

std::optional<std::string> InboxReader::TakeCount(std::string_view line) {
  const StorageAnswer answer = ParseStorageAnswer(line);
  const bool too_large =
      (answer.count && *answer.count > kMaxSmsStorage) || answer.capacity > kMaxSmsStorage;
  if (!answer.count || too_large) {
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
  // No index above the storage's capacity holds a message.
  for (std::int32_t index = 0; index < total && index <= SmsCapacity; ++index) ReadAll_SMS(index);
  return std::nullopt;
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
  ReadAll_SMS(NextIndex);
}

void InboxReader::ShowFound(std::vector<FoundMessage> found) {
  for (const FoundMessage& message : found) {
    AddModemLine(MessageLogLine(message.message));
    ++SmsShown;
    if (record_) record_->MessageShown(message);
  }
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
  // A header whose body never came is shown with an empty text.
  ShowFound(scanner_.Scan(held));
}

void InboxReader::AddModemLine(const std::string& line) {
  modem_log_.Append("\r\n" + line);
}

}  // namespace vestrel
