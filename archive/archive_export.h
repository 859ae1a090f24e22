#pragma once
// What the archive holds, as text for other programs: CSV (UTF-8 with a byte
// order mark, so that a spreadsheet reads the Cyrillic right; fields quoted
// as RFC 4180 wants) and JSON, one object per line.

#include <string>
#include <string_view>
#include <vector>

#include "archive/archive.h"

namespace vestrel::archive {

inline constexpr char kUtf8Bom[] = "\xEF\xBB\xBF";

// One field: an apostrophe put in front when it starts with "=", "+", "-",
// "@", a tab or CR (a spreadsheet shows it as text, never as a formula);
// quoted when it holds a comma, a quotation mark, CR or LF (or starts or ends
// with a blank), a quotation mark doubled.
std::string CsvField(std::string_view field);
// Fields joined by commas, ended by CR LF.
std::string CsvRecord(const std::vector<std::string>& fields);

// The columns of the listings, as the window shows them.
std::vector<std::string> ReceivedColumns();  // Время (UTC), Номер, Время отправки, Текст
std::vector<std::string> SentColumns();  // Время (UTC), Номер, Частей, Состояние, Текст
std::vector<std::string> RawColumns();  // Время (UTC), Порт, Байты, Байты (hex)
// The archive column each listed column is ordered by (one of the listing's
// orders in archive.h), column for column; empty where a column has no order.
std::vector<std::string> ReceivedColumnOrders();
std::vector<std::string> SentColumnOrders();
std::vector<std::string> RawColumnOrders();
std::vector<std::string> ReceivedFields(const ReceivedRow& row);
std::vector<std::string> SentFields(const SentRow& row);
std::vector<std::string> RawFields(const RawRow& row);
// A send's parts as its details show them: number, text, status, the
// reference or why it was not accepted, when it was written.
std::vector<std::string> PartColumns();
std::vector<std::string> PartFields(const PartRow& row);
// A send's or part's status in Russian ("принято", "отклонено", "неизвестно";
// "не записано" for a part kept before results were).
std::string StatusWord(std::string_view status);

// A whole CSV document: the byte order mark, the column names, the rows.
std::string ReceivedCsv(const std::vector<ReceivedRow>& rows);
std::string SentCsv(const std::vector<SentRow>& rows);
std::string RawCsv(const std::vector<RawRow>& rows);

// A JSON string literal of UTF-8 text (bytes that are not UTF-8 become U+FFFD).
std::string JsonString(std::string_view utf8);
// Lower-case hexadecimal of bytes.
std::string HexBytes(std::string_view bytes);

// One JSON object per row, without the line end. Raw bytes go out as hexadecimal.
std::string ReceivedJson(const ReceivedRow& row);
std::string SentJson(const SentRow& row, const std::vector<PartRow>& parts,
                     const std::vector<AnswerRow>& answers);
std::string RawJson(const RawRow& row);

}  // namespace vestrel::archive
