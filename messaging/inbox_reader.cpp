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
                         MessagingDurations durations, std::string staging_path)
    : port_(port),
      command_log_(command_log),
      modem_log_(modem_log),
      durations_(durations),
      staging_path_(std::move(staging_path)) {}

void InboxReader::Button4Click() {
  port_.Open();
  modem_log_.SetText({});
  kol_SMS();
}

void InboxReader::kol_SMS() {
  SmsTotal = 0;
  ReadMore = 0;
  SmsShown = 0;
  SmsCapacity = kDefaultSmsCapacity;
  ReadStopped = false;
  const platform::EventHandle et = platform::OpenModemWaitEvent();
  port_.WriteStr("at+cmgf=1\r");
  durations_.ModemWait(et);
  port_.WriteStr("AT+CPMS=\"ME\"\r");
  command_log_.AddLine("AT+CPMS=\"ME\"");
  durations_.ModemWait(et);
}

void InboxReader::ReadAll_SMS(std::int32_t index) {
  const platform::EventHandle et = platform::OpenModemWaitEvent();
  const std::string read = "AT+CMGR=" + std::to_string(index);
  port_.WriteStr(read + "\r");
  command_log_.AddLine(read);
  durations_.ModemWait(et);
  // The delete goes out whatever the modem answered to the read.
  const std::string remove = "AT+CMGD=" + std::to_string(index);
  port_.WriteStr(remove + "\r");
  command_log_.AddLine(remove);
  durations_.ModemWait(et);
}

void InboxReader::BComPort1RxChar(int count) {
  std::string chunk = port_.ReadStr(count);
  if (!chunk.empty() && chunk.back() == '\r') chunk += '\n';
  modem_log_.SetText(chunk + modem_log_.Text());
  if (Holds(chunk, kStorageMark)) {
    const std::string counted = std::move(chunk);
    chunk.clear();
    TakeCount(counted);
  }
  if (Holds(chunk, kHeaderMark) || ReadMore == 1 ||
      (SmsTotal > 0 && SmsShown == 0 && !ReadStopped)) {
    static const std::string reading = platform::Cp1251FromUtf8("Читаем СМС");
    AddModemLine(reading);
    WriteStagingFile(staging_path_, chunk);
    Read_SMS();
  }
}

void InboxReader::TakeCount(std::string_view chunk) {
  const StorageAnswer answer = ParseStorageAnswer(chunk);
  if (!answer.count) {
    static const std::string message =
        platform::Cp1251FromUtf8("Модем сообщил число СМС в непонятном виде: ");
    throw platform::Exception(message + "\"" + Printable(answer.count_text) + "\"");
  }
  SmsTotal = *answer.count;
  SmsCapacity = answer.capacity;
  if (SmsTotal <= 0) return;
  static const std::string before = platform::Cp1251FromUtf8("У Вас ");
  static const std::string after = platform::Cp1251FromUtf8(" СМС");
  AddModemLine(before + std::to_string(SmsTotal) + after);
  const std::int32_t total = SmsTotal;
  // No index above the storage's capacity holds a message.
  for (std::int32_t index = 0; index < total && index <= SmsCapacity; ++index) ReadAll_SMS(index);
}

void InboxReader::Read_SMS() {
  const std::string staged = TakeStagingFile(staging_path_);
  for (const ListedMessage& message : ParseStaged(staged)) {
    AddModemLine(MessageLogLine(message));
    ++SmsShown;
  }
  if (SmsShown >= SmsTotal || ReadStopped) {
    ReadMore = 0;
    return;
  }
  const std::int64_t next = ReadMore == 0 ? std::int64_t{SmsTotal} : std::int64_t{NextIndex} + 1;
  if (next > SmsCapacity) {
    ReadMore = 0;
    ReadStopped = true;
    static const std::string found = platform::Cp1251FromUtf8("Найдено СМС: ");
    static const std::string of = platform::Cp1251FromUtf8(" из ");
    AddModemLine(found + std::to_string(SmsShown) + of + std::to_string(SmsTotal));
    return;
  }
  NextIndex = static_cast<std::int32_t>(next);
  ReadMore = 1;
  ReadAll_SMS(NextIndex);
}

void InboxReader::AddModemLine(const std::string& line) {
  modem_log_.SetText(modem_log_.Text() + "\r\n" + line);
}

}  // namespace vestrel
