// Export for other programs: the CSV read back by Python's csv module, and
// JSON lines read back by Python's json module.
#include "archive/archive_export.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "archive_test_support.h"

namespace vestrel::archive {
namespace {

using test::TempDir;

// Runs Python on a file and returns what it printed.
std::string Python(const std::string& script, const std::filesystem::path& file) {
  TempDir dir;
  test::WriteFile(dir / "check.py", script);
  const std::string command =
      "/usr/bin/python3 '" + (dir / "check.py").string() + "' '" + file.string() + "'";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return "popen failed";
  std::string out;
  char buffer[512];
  while (std::size_t got = std::fread(buffer, 1, sizeof buffer, pipe)) out.append(buffer, got);
  EXPECT_EQ(::pclose(pipe), 0) << out;
  return out;
}

// Quoted only where needed; a cell a spreadsheet would take for a formula is
// marked as text.
TEST(ArchiveCsv, FieldsAreQuotedWhereNeededAndNeverAFormula) {
  const std::vector<std::pair<std::string, std::string>> rows = {
      {"plain", "plain"},
      {"", ""},
      {"a,b", "\"a,b\""},
      {"say \"hi\"", "\"say \"\"hi\"\"\""},
      {"two\r\nlines", "\"two\r\nlines\""},
      {" padded", "\" padded\""},
      {"=HYPERLINK(\"http://x\",\"y\")", "\"'=HYPERLINK(\"\"http://x\"\",\"\"y\"\")\""},
      {"+79161234567", "'+79161234567"},
      {"-2+3", "'-2+3"},
      {"@SUM(A1)", "'@SUM(A1)"},
      {"\tcmd", "'\tcmd"},
      {"\r\n=1", "\"'\r\n=1\""},
      {"a=1", "a=1"},
      {"'quoted", "'quoted"},
  };
  for (const auto& [field, written] : rows) EXPECT_EQ(CsvField(field), written) << field;
  EXPECT_EQ(CsvRecord({"a", "b,c", ""}), "a,\"b,c\",\r\n");
}

TEST(ArchiveCsv, PythonReadsBackEveryFieldOfTheListing) {
  std::vector<ReceivedRow> rows;
  const std::vector<std::string> texts = {"Привет, мир",
                                          "кавычки \"внутри\"",
                                          "строка\r\nвторая\nтретья",
                                          "  пробелы  ",
                                          "",
                                          "a;b\ttab",
                                          "эмодзи 😀 и ё",
                                          "\"",
                                          ",",
                                          "=1+1",
                                          "@A1"};
  for (std::size_t i = 0; i < texts.size(); ++i) {
    ReceivedRow row;
    row.shown_at = "2026-12-08 10:00:0" + std::to_string(i) + ".000";
    row.number = "+7916100000" + std::to_string(i);
    row.send_time = "26/12/08,10:15:0" + std::to_string(i);
    row.text = texts[i];
    rows.push_back(row);
  }
  TempDir dir;
  const std::string csv = ReceivedCsv(rows);
  ASSERT_TRUE(csv.starts_with("\xEF\xBB\xBF"));
  test::WriteFile(dir / "out.csv", csv);
  const std::string fields = Python(R"(
import csv, sys
assert open(sys.argv[1], 'rb').read().startswith(b'\xef\xbb\xbf')
with open(sys.argv[1], newline='', encoding='utf-8-sig') as f:
    for row in csv.reader(f, strict=True):
        sys.stdout.buffer.write(('\x1f'.join(row) + '\x1e').encode('utf-8'))
)",
                                    dir / "out.csv");
  std::string want;
  // What a spreadsheet shows: a cell that would be a formula, with its mark.
  const auto shown = [](const std::string& cell) {
    return (!cell.empty() && std::string("=+-@\t\r").find(cell[0]) != std::string::npos ? "'"
                                                                                        : "") +
           cell;
  };
  const auto add = [&](const std::vector<std::string>& row) {
    for (std::size_t i = 0; i < row.size(); ++i) want += (i ? "\x1f" : "") + shown(row[i]);
    want += "\x1e";
  };
  add(ReceivedColumns());
  for (const auto& row : rows) add(ReceivedFields(row));
  EXPECT_EQ(fields, want);
}

TEST(ArchiveJson, LinesParseAndCarryTheRecord) {
  ReceivedRow row;
  row.id = 7;
  row.shown_at = "2026-12-08 10:00:00.000";
  row.port = "/dev/ttyUSB0";
  row.number = "+79161000001";
  row.send_time = "26/12/08,10:15:00";
  row.text = "«кавычки» \"и\" \\ слэш\n\x01 конец";
  row.raw_header = "+CMGR";
  row.raw_body = std::string("\0\xFF", 2);
  SentRow sent{3,        "2026-12-08 11:00:00.000",  "COM11", "79161234567", "Ответ", 2, "refused",
               "failed", "2026-12-10T14:03:09+03:00"};
  PartRow taken{1, "00AA", "t1", "От", "accepted", 4, {}, ""};
  PartRow refused{2, "00BB", "t2", "вет", "refused", {}, 500, "модем ответил +CMS ERROR: 500"};
  RawRow raw{5, "2026-12-08 12:00:00.000", "COM11", "OK\r\n"};
  TempDir dir;
  test::WriteFile(dir / "out.jsonl", ReceivedJson(row) + "\n" +
                                         SentJson(sent, {taken, refused}, {{"+CMGS: 4", "t3"}}) +
                                         "\n" + RawJson(raw) + "\n" +
                                         "{\"text\":" + JsonString("bad \xC0 byte") + "}\n");
  const std::string printed = Python(R"(
import json, sys
lines = [json.loads(l) for l in open(sys.argv[1], encoding='utf-8')]
r, s, w, b = lines
assert r['id'] == 7 and r['index'] is None and r['text'] == '«кавычки» "и" \\ слэш\n\x01 конец', r
assert r['raw_body_hex'] == '00ff' and r['raw_header_hex'] == '2b434d4752'
assert s['parts'][1] == {'part': 2, 'pdu': '00BB', 'time': 't2', 'text': 'вет', 'status': 'refused',
  'reference': None, 'error_code': 500, 'error': 'модем ответил +CMS ERROR: 500'}, s
assert s['parts'][0]['reference'] == 4 and s['parts'][0]['error'] is None
assert s['answers'][0]['line'] == '+CMGS: 4'
assert s['text'] == 'Ответ' and s['part_count'] == 2 and s['status'] == 'refused'
assert s['delivery'] == 'failed' and s['delivery_time'] == '2026-12-10T14:03:09+03:00', s
assert w['bytes_hex'] == '4f4b0d0a'
assert b['text'] == 'bad \ufffd byte'
print('fine')
)",
                                     dir / "out.jsonl");
  EXPECT_EQ(printed, "fine\n");
}

}  // namespace
}  // namespace vestrel::archive
