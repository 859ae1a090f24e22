#include "archive/archive_export.h"

#include <cstdio>

#include "platform/cp1251.h"
#include "platform/utf8.h"

namespace vestrel::archive {
namespace {

std::string Field(const char* name, const std::string& json_value) {
  return std::string("\"") + name + "\":" + json_value;
}

}  // namespace

std::string CsvField(std::string_view field) {
  // A spreadsheet takes a cell that starts so for a formula; an SMS sender
  // chooses the text, so such a cell is marked as text.
  const bool marked =
      !field.empty() && std::string_view("=+-@\t\r").find(field.front()) != std::string_view::npos;
  const std::string cell = (marked ? "'" : "") + std::string(field);
  const bool quote = cell.find_first_of(",\"\r\n") != std::string::npos ||
                     (!cell.empty() && (cell.front() == ' ' || cell.back() == ' '));
  if (!quote) return cell;
  std::string out = "\"";
  for (char c : cell) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
  return out;
}

std::string CsvRecord(const std::vector<std::string>& fields) {
  std::string out;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) out += ',';
    out += CsvField(fields[i]);
  }
  out += "\r\n";
  return out;
}

std::vector<std::string> ReceivedColumns() {
  return {"Время (UTC)", "Номер", "Время отправки", "Текст"};
}

std::vector<std::string> SentColumns() {
  return {"Время (UTC)", "Номер", "Частей", "Состояние", "Текст"};
}

std::vector<std::string> PartColumns() {
  return {"Часть", "Текст", "Состояние", "Ссылка или ошибка", "Записана (UTC)"};
}

std::string StatusWord(std::string_view status) {
  if (status == "accepted") return "принято";
  if (status == "refused") return "отклонено";
  if (status == "unknown") return "неизвестно";
  return "не записано";
}

std::vector<std::string> RawColumns() {
  return {"Время (UTC)", "Порт", "Байты", "Байты (hex)"};
}

std::vector<std::string> ReceivedColumnOrders() {
  return {"shown_at", "number", "send_time", "text"};
}

std::vector<std::string> SentColumnOrders() {
  return {"started_at", "number", "part_count", "status", "text"};
}

// Bytes are not ordered: their shown form is not what the archive keeps.
std::vector<std::string> RawColumnOrders() {
  return {"received_at", "port", "", ""};
}

std::vector<std::string> RawFields(const RawRow& row) {
  return {row.received_at, row.port, platform::ShownBytes(row.bytes), HexBytes(row.bytes)};
}

std::vector<std::string> ReceivedFields(const ReceivedRow& row) {
  return {row.shown_at, row.number, row.send_time, row.text};
}

std::vector<std::string> SentFields(const SentRow& row) {
  return {row.started_at, row.number, std::to_string(row.part_count), StatusWord(row.status),
          row.text};
}

std::vector<std::string> PartFields(const PartRow& row) {
  std::string outcome = row.error;
  if (row.reference) outcome = "ссылка " + std::to_string(*row.reference);
  return {std::to_string(row.part_number), row.text, StatusWord(row.status), outcome,
          row.written_at};
}

std::string ReceivedCsv(const std::vector<ReceivedRow>& rows) {
  std::string out = kUtf8Bom + CsvRecord(ReceivedColumns());
  for (const ReceivedRow& row : rows) out += CsvRecord(ReceivedFields(row));
  return out;
}

std::string SentCsv(const std::vector<SentRow>& rows) {
  std::string out = kUtf8Bom + CsvRecord(SentColumns());
  for (const SentRow& row : rows) out += CsvRecord(SentFields(row));
  return out;
}

std::string RawCsv(const std::vector<RawRow>& rows) {
  std::string out = kUtf8Bom + CsvRecord(RawColumns());
  for (const RawRow& row : rows) out += CsvRecord(RawFields(row));
  return out;
}

std::string JsonString(std::string_view utf8) {
  std::string out = "\"";
  for (std::size_t i = 0; i < utf8.size();) {
    const unsigned char c = static_cast<unsigned char>(utf8[i]);
    const platform::Utf8Step step = platform::DecodeUtf8(utf8.substr(i));
    if (!step.code_point) {
      out += "\\ufffd";
      ++i;
      continue;
    }
    const std::size_t length = step.length;
    if (length > 1) {
      out.append(utf8.substr(i, length));
    } else if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c < 0x20 || c == 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out += static_cast<char>(c);
    }
    i += length;
  }
  out += '"';
  return out;
}

std::string HexBytes(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (char b : bytes) {
    const auto byte = static_cast<unsigned char>(b);
    out += kDigits[byte >> 4];
    out += kDigits[byte & 0x0F];
  }
  return out;
}

std::string ReceivedJson(const ReceivedRow& row) {
  return "{" + Field("id", std::to_string(row.id)) + "," + Field("time", JsonString(row.shown_at)) +
         "," + Field("port", JsonString(row.port)) + "," +
         Field("index", row.storage_index ? std::to_string(*row.storage_index) : "null") + "," +
         Field("number", JsonString(row.number)) + "," +
         Field("send_time", JsonString(row.send_time)) + "," + Field("text", JsonString(row.text)) +
         "," + Field("raw_header_hex", JsonString(HexBytes(row.raw_header))) + "," +
         Field("raw_body_hex", JsonString(HexBytes(row.raw_body))) + "}";
}

std::string SentJson(const SentRow& row, const std::vector<PartRow>& parts,
                     const std::vector<AnswerRow>& answers) {
  std::string part_list = "[";
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) part_list += ",";
    const PartRow& p = parts[i];
    part_list += "{" + Field("part", std::to_string(p.part_number)) + "," +
                 Field("pdu", JsonString(p.pdu)) + "," + Field("time", JsonString(p.written_at)) +
                 "," + Field("text", p.status.empty() ? "null" : JsonString(p.text)) + "," +
                 Field("status", p.status.empty() ? "null" : JsonString(p.status)) + "," +
                 Field("reference", p.reference ? std::to_string(*p.reference) : "null") + "," +
                 Field("error_code", p.error_code ? std::to_string(*p.error_code) : "null") + "," +
                 Field("error", p.error.empty() ? "null" : JsonString(p.error)) + "}";
  }
  part_list += "]";
  std::string answer_list = "[";
  for (std::size_t i = 0; i < answers.size(); ++i) {
    if (i > 0) answer_list += ",";
    answer_list += "{" + Field("line", JsonString(answers[i].line)) + "," +
                   Field("time", JsonString(answers[i].seen_at)) + "}";
  }
  answer_list += "]";
  return "{" + Field("id", std::to_string(row.id)) + "," +
         Field("time", JsonString(row.started_at)) + "," + Field("port", JsonString(row.port)) +
         "," + Field("number", JsonString(row.number)) + "," + Field("text", JsonString(row.text)) +
         "," + Field("part_count", std::to_string(row.part_count)) + "," +
         Field("status", JsonString(row.status)) + "," + Field("parts", part_list) + "," +
         Field("answers", answer_list) + "}";
}

std::string RawJson(const RawRow& row) {
  return "{" + Field("id", std::to_string(row.id)) + "," +
         Field("time", JsonString(row.received_at)) + "," + Field("port", JsonString(row.port)) +
         "," + Field("bytes_hex", JsonString(HexBytes(row.bytes))) + "}";
}

}  // namespace vestrel::archive
