#include "messaging/at_answers.h"

#include <charconv>

#include "platform/cp1251.h"

namespace vestrel {
namespace {

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

AtAnswer ParseAnswerLine(std::string_view line) {
  line = Trimmed(line);
  if (line == "OK") return {AnswerKind::kOk, std::nullopt};
  if (line == "ERROR") return {AnswerKind::kError, std::nullopt};
  if (StartsWith(line, ">")) return {AnswerKind::kPrompt, std::nullopt};
  if (StartsWith(line, "+CMS ERROR:"))
    return {AnswerKind::kCmsError, LeadingNumber(line.substr(11))};
  if (StartsWith(line, "+CME ERROR:"))
    return {AnswerKind::kCmeError, LeadingNumber(line.substr(11))};
  if (StartsWith(line, "+CMGS:")) {
    // A +CMGS line without a reference is no answer this program knows.
    if (const auto reference = LeadingNumber(line.substr(6))) return {AnswerKind::kCmgs, reference};
  }
  return {};
}

std::string CmsErrorMeaning(int code) {
  for (const Meaning& m : kMeanings)
    if (m.code == code) return platform::Cp1251FromUtf8(m.utf8);
  return {};
}

}  // namespace vestrel
