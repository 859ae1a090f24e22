#include "messaging/at_answers.h"

#include <charconv>
#include <cstdio>
#include <limits>

#include "platform/cp1251.h"

namespace vestrel {
namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

bool IsDigits(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  return true;
}

std::string_view Trimmed(std::string_view s) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!s.empty() && blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  return s;
}

bool StartsWith(std::string_view s, std::string_view prefix) {
  return s.substr(0, prefix.size()) == prefix;
}

// The leading decimal number of s (after blanks), when s starts with one
// that ends the text or is followed by a comma.
std::optional<int> LeadingNumber(std::string_view s) {
  s = Trimmed(s);
  int value = 0;
  const auto [end, error] = std::from_chars(s.data(), s.data() + s.size(), value);
  if (error != std::errc() || end == s.data() || value < 0) return std::nullopt;
  if (end != s.data() + s.size() && *end != ',') return std::nullopt;
  return value;
}

struct Meaning {
  int code;
  const char* utf8;
};

// 3GPP TS 27.005 3.2.5: 0..127 are the network's causes (TS 24.011), 128..255
// the message centre's (TS 23.040), 300 and up the modem's own.
constexpr Meaning kMeanings[] = {
    {1, "номер получателя не существует"},
    {8, "отправка запрещена оператором"},
    {10, "исходящие запрещены"},
    {21, "сеть отклонила сообщение"},
    {27, "получатель недоступен"},
    {28, "абонент не опознан"},
    {29, "услуга отклонена сетью"},
    {30, "абонент неизвестен сети"},
    {38, "сеть не работает"},
    {41, "временный сбой сети"},
    {42, "сеть перегружена"},
    {47, "нет свободных ресурсов сети"},
    {50, "услуга не подключена"},
    {69, "услуга не поддерживается сетью"},
    {95, "неверное сообщение"},
    {111, "ошибка протокола"},
    {127, "ошибка взаимодействия сетей"},
    {144, "кодировка текста не поддерживается"},
    {176, "сообщение такого вида не поддерживается"},
    {192, "центр СМС занят"},
    {193, "нет подписки на центр СМС"},
    {194, "сбой центра СМС"},
    {195, "неверный адрес получателя"},
    {196, "получатель заблокирован"},
    {197, "повторное сообщение отклонено"},
    {198, "формат срока жизни не поддерживается"},
    {199, "срок жизни не поддерживается"},
    {255, "неизвестная ошибка сети"},
    {300, "сбой модема"},
    {301, "служба СМС модема занята"},
    {302, "операция не разрешена"},
    {303, "операция не поддерживается"},
    {304, "неверные данные сообщения (режим PDU)"},
    {305, "неверные данные сообщения (текстовый режим)"},
    {310, "SIM-карта не вставлена"},
    {311, "нужен PIN-код SIM-карты"},
    {312, "нужен PIN-код телефона"},
    {313, "сбой SIM-карты"},
    {314, "SIM-карта занята"},
    {315, "неверная SIM-карта"},
    {316, "нужен PUK-код SIM-карты"},
    {317, "нужен PIN2-код"},
    {318, "нужен PUK2-код"},
    {320, "сбой памяти"},
    {321, "неверный номер в памяти"},
    {322, "память заполнена"},
    {330, "неизвестен адрес центра СМС"},
    {331, "нет сети"},
    {332, "сеть не ответила вовремя"},
    {340, "подтверждение +CNMA не ожидалось"},
    {500, "неизвестная ошибка"},
};

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

std::vector<std::string> HeaderFields(std::string_view header) {
  const std::size_t mark = header.find(kReadMark);
  if (mark != std::string_view::npos) header.remove_prefix(mark + kReadMark.size());
  while (!header.empty() && header.front() == ' ') header.remove_prefix(1);
  std::vector<std::string> fields(1);
  bool quoted = false;
  for (char c : header) {
    if (c == '"') {
      quoted = !quoted;
    } else if (c == ',' && !quoted) {
      fields.emplace_back();
    } else {
      fields.back() += c;
    }
  }
  return fields;
}

std::string SentAtFromTimestamp(std::string_view stamp) {
  // yy/MM/dd,hh:mm:ss then the zone: a sign and quarter hours.
  if (stamp.size() < 19 || stamp[2] != '/' || stamp[5] != '/' || stamp[8] != ',' ||
      stamp[11] != ':' || stamp[14] != ':' || (stamp[17] != '+' && stamp[17] != '-'))
    return {};
  for (std::size_t at : {0u, 3u, 6u, 9u, 12u, 15u})
    if (!IsDigits(stamp.substr(at, 2))) return {};
  const std::string_view zone = stamp.substr(18);
  if (!IsDigits(zone) || zone.size() > 2) return {};
  const int quarters = std::stoi(std::string(zone));
  if (quarters > 56) return {};  // beyond ±14:00
  char offset[16];
  std::snprintf(offset, sizeof offset, "%c%02d:%02d", stamp[17], quarters / 4, quarters % 4 * 15);
  std::string iso = "20";
  iso.append(stamp.substr(0, 2)).append("-").append(stamp.substr(3, 2)).append("-");
  iso.append(stamp.substr(6, 2)).append("T").append(stamp.substr(9, 8)).append(offset);
  return iso;
}

std::optional<CmgrPduHeader> ParseCmgrPduHeader(std::string_view line) {
  if (line.substr(0, kReadMark.size()) != kReadMark) return std::nullopt;
  line.remove_prefix(kReadMark.size());
  while (!line.empty() && line.front() == ' ') line.remove_prefix(1);
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n' || line.back() == ' '))
    line.remove_suffix(1);
  CmgrPduHeader header;
  auto number = [](std::string_view text, int& out) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), out);
    return error == std::errc() && end == text.data() + text.size() && !text.empty();
  };
  const std::size_t first_comma = line.find(',');
  const std::size_t last_comma = line.rfind(',');
  if (first_comma == std::string_view::npos || first_comma == last_comma) return std::nullopt;
  if (!number(line.substr(0, first_comma), header.stat) || header.stat < 0 || header.stat > 3)
    return std::nullopt;
  if (!number(line.substr(last_comma + 1), header.length) || header.length <= 0 ||
      header.length > 176)
    return std::nullopt;
  std::string_view alpha = line.substr(first_comma + 1, last_comma - first_comma - 1);
  if (alpha.size() >= 2 && alpha.front() == '"' && alpha.back() == '"')
    alpha = alpha.substr(1, alpha.size() - 2);
  header.alpha = std::string(alpha);
  return header;
}

bool IsFinalResult(std::string_view line) {
  return line == kOkResult || line == kErrorResult || StartsWith(line, kCmsErrorMark) ||
         StartsWith(line, kCmeErrorMark);
}

bool IsUnsolicitedResult(std::string_view line) {
  // Those of 27.005 and 27.007 a modem may send while messages are read, and
  // the vendor ones common USB modems send all day.
  static constexpr std::string_view kMarks[] = {
      "+CMTI:",  "+CDSI:",      "+CDS:",     "+CBMI:",   "+CLIP:", "+CRING:", "+CREG:",
      "+CGREG:", "+CEREG:",     "+CUSD:",    "+CIEV:",   "+CCWA:", "^RSSI:",  "^HCSQ:",
      "^BOOT:",  "^MODE:",      "^SRVST:",   "^SIMST:",  "^CEND:", "^ORIG:",  "^CONF:",
      "^CONN:",  "^DSFLOWRPT:", "^SYSSTART", "+PBREADY", "^STIN:"};
  if (line == "RING") return true;
  for (std::string_view mark : kMarks)
    if (StartsWith(line, mark)) return true;
  return false;
}

AtAnswer ParseAnswerLine(std::string_view line) {
  line = Trimmed(line);
  if (line == kOkResult) return {AnswerKind::kOk, std::nullopt};
  if (line == kErrorResult) return {AnswerKind::kError, std::nullopt};
  if (StartsWith(line, ">")) return {AnswerKind::kPrompt, std::nullopt};
  if (StartsWith(line, kCmsErrorMark))
    return {AnswerKind::kCmsError, LeadingNumber(line.substr(kCmsErrorMark.size()))};
  if (StartsWith(line, kCmeErrorMark))
    return {AnswerKind::kCmeError, LeadingNumber(line.substr(kCmeErrorMark.size()))};
  if (StartsWith(line, kSentMark)) {
    // A +CMGS line without a reference is no answer this program knows.
    if (const auto reference = LeadingNumber(line.substr(kSentMark.size())))
      return {AnswerKind::kCmgs, reference};
  }
  return {};
}

std::string CmsErrorMeaning(int code) {
  for (const Meaning& m : kMeanings)
    if (m.code == code) return platform::Cp1251FromUtf8(m.utf8);
  return {};
}

}  // namespace vestrel
