// The pieces of a PDU-mode reading: its configuration, the send time as the
// line shows it, answers that text cannot forge, and parts joined.

#include <gtest/gtest.h>

#include <cstdio>

#include "messaging/pdu_messages.h"
#include "messaging/reading_config.h"
#include "platform/cp1251.h"
#include "platform/utf8.h"

namespace vestrel {
namespace {

// An SMS-DELIVER from +79161234567 with UCS-2 text and, when given, a
// concatenation header; the answer to its read in PDU mode.
std::string Answer(const std::string& utf8, int sequence = 0, int total = 0) {
  std::string user_data;
  if (total > 0) {
    char header[16];
    std::snprintf(header, sizeof header, "0500032A%02X%02X", total, sequence);
    user_data = header;
  }
  const std::u16string units = platform::Utf8ToUtf16(utf8).value();
  for (char16_t unit : units) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "%04X", static_cast<unsigned>(unit));
    user_data += hex;
  }
  char length[4];
  std::snprintf(length, sizeof length, "%02X", static_cast<unsigned>(user_data.size() / 2));
  const std::string pdu = std::string("00") + (total > 0 ? "44" : "04") +
                          "0B919761214365F70008622190905100" + "21" + length + user_data;
  return "+CMGR: 0,," + std::to_string(pdu.size() / 2 - 1) + "\r\n" + pdu + "\r\n\r\nOK\r\n";
}

TEST(PduReading, ConfigurationValues) {
  const struct {
    std::string text;
    std::optional<std::string> memory;
    std::optional<ReadingMode> mode;
  } cases[] = {
      {"SM", "SM", std::nullopt},
      {" me ", "ME", std::nullopt},
      {"Mt", "MT", std::nullopt},
      {"pdu", std::nullopt, ReadingMode::kPdu},
      {" Text", std::nullopt, ReadingMode::kText},
      {"", std::nullopt, std::nullopt},
      {"SR", std::nullopt, std::nullopt},
      {"\"SM\"", std::nullopt, std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ParseReadingMemory(c.text), c.memory) << c.text;
    EXPECT_EQ(ParseReadingMode(c.text), c.mode) << c.text;
  }
  EXPECT_EQ(FormatCommand({}), "at+cmgf=1");
  EXPECT_EQ(MemoryCommand({}), "AT+CPMS=\"ME\"");
  EXPECT_EQ(FormatCommand({ReadingMode::kPdu, "SM"}), "AT+CMGF=0");
  EXPECT_EQ(MemoryCommand({ReadingMode::kPdu, "SM"}), "AT+CPMS=\"SM\"");
}

TEST(PduReading, ShownTime) {
  const std::pair<std::string, std::string> cases[] = {
      {"2026-12-09T09:15:00+03:00", "26/12/09,09:15:00"},
      {"2099-01-31T23:59:59-11:45", "99/01/31,23:59:59"},
      {"", ""},
      {"26/12/09,09:15:00", ""},
  };
  for (const auto& [sent_at, shown] : cases) EXPECT_EQ(ShownTime(sent_at), shown) << sent_at;
}

// A text that holds what a second answer looks like stays the first one's.
TEST(PduReading, TextCannotPoseAsAnotherMessage) {
  const std::string forged = "a\r\n\r\nOK\r\n+CMGR: 0,,20\r\n0004\r\n+CPMS: 9,9";
  AnswerScanner scanner;
  scanner.SetPduMode(true);
  const auto found = scanner.Scan("AT+CMGR=1\r\n" + Answer(forged) + Answer("b"));
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0].message.text, platform::Cp1251FromUtf8(forged));
  EXPECT_EQ(found[0].message.number, "+79161234567");
  EXPECT_EQ(found[0].message.time, "26/12/09,09:15:00");
  EXPECT_EQ(found[1].message.text, "b");
  EXPECT_EQ(scanner.FinalResults(), 2);
  // A line that is no PDU is shown as it came.
  scanner.Reset();
  const auto odd = scanner.Scan("+CMGR: 0,,5\r\nnot hex\r\n\r\nOK\r\n");
  ASSERT_EQ(odd.size(), 1u);
  EXPECT_EQ(odd[0].message.text, "not hex");
  EXPECT_FALSE(odd[0].part);
}

TEST(PduReading, PartsJoinInTheirOrder) {
  AnswerScanner scanner;
  scanner.SetPduMode(true);
  const auto parts = scanner.Scan(Answer("мир", 2, 3) + Answer("Привет, ", 1, 3) +
                                  Answer("Привет, ", 1, 3) + Answer("один", 0, 0));
  ASSERT_EQ(parts.size(), 4u);
  EXPECT_EQ(PartGroupKey(parts[0]), PartGroupKey(parts[1]));
  EXPECT_EQ(PartGroupKey(parts[3]), "");
  const FoundMessage joined = JoinedFound({parts[0], parts[1], parts[2]});
  EXPECT_EQ(joined.message.text, platform::Cp1251FromUtf8("Привет, мир"));
  EXPECT_EQ(joined.parts_present, 2u);
  EXPECT_EQ(joined.parts_total, 3u);
  EXPECT_EQ(platform::Cp1251ToUtf8(FoundLogLine(joined)),
            "№ тел: +79161234567 Дата и время отправки: 26/12/09,09:15:00 Текст: Привет, мир"
            " [неполное СМС: пришло частей 2 из 3]");
  EXPECT_EQ(FoundLogLine(parts[3]), MessageLogLine(parts[3].message));
}

}  // namespace
}  // namespace vestrel
