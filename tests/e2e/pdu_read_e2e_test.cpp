// The window reads in PDU mode and from the memory Pelmora.ini names.

#include "tests/e2e/e2e_fixture.h"

namespace vestrel::e2e {
namespace {

TEST_F(MessagingE2e, ReadsInTheModeAndMemoryTheIniNames) {
  const std::string joined = Message("+79031112233", "26/12/09,10:00:01",
                                     "Первая часть длинного сообщения, и вторая его часть.");
  const struct {
    std::string ini;
    std::vector<std::string> opening;
    int total;
    std::vector<std::string> messages;
    std::string memory;
    std::string command_log_first;  // before the reading's lines
  } cases[] = {
      {"Чтение=PDU\r\n",
       {"AT+CMGF=0", "AT+CPMS=\"ME\""},
       4,
       {Message("MyBank", "26/12/09,08:30:00", "Your code is 4711. Do not tell anyone."),
        Message("+79161234567", "26/12/09,09:15:00", "Привет! Встреча завтра в 10:00."), joined},
       "ME",
       ""},
      {"Чтение=pdu\r\nПамять=SM\r\n",
       {"AT+CMGF=0", "AT+CPMS=\"SM\""},
       2,
       {Message("+447700900123", "26/12/08,18:05:12", "Stored on the SIM card"),
        Message("+79161234567", "26/12/08,19:00:00", "Тоже на SIM-карте")},
       "SM",
       ""},
      // A value that does not read: the described reading, and a line that says so.
      {"Память=SIM\r\n",
       {"at+cmgf=1", "AT+CPMS=\"ME\""},
       4,
       {},
       "ME",
       "Pelmora.ini: Память=SIM не понято: чтение идёт как без этого ключа\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.ini);
    form_.reset();
    counts_.clear();
    sim_.reset();
    StartSim("pdu");
    TForm1& form = StartForm({100, 300}, W(c.ini.c_str()));
    form.Button4Click(nullptr);
    ASSERT_TRUE(ServeUntil([&] { return Inbox().SmsShown >= c.total; }));
    Settle();
    EXPECT_TRUE(errors_.empty()) << errors_.front();
    const auto commands = sim().Commands();
    ASSERT_GE(commands.size(), 2u);
    EXPECT_EQ(std::vector<std::string>(commands.begin(), commands.begin() + 2), c.opening);
    EXPECT_TRUE(sim().StoredMessages(c.memory).empty());
    const std::string log = platform::Cp1251ToUtf8(Messaging().command_log.Text());
    EXPECT_EQ(log.rfind(c.command_log_first, 0), 0u) << log;
    if (c.messages.empty()) continue;
    std::string expected = W("\r\nУ Вас ") + std::to_string(c.total) + W(" СМС");
    for (const auto& m : c.messages) expected += "\r\n" + m;
    EXPECT_EQ(WithoutReadingLines(LinesPart()), expected);
  }
}

}  // namespace
}  // namespace vestrel::e2e
