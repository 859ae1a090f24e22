// vestrel-sms against the modem simulator on a pty: the same commands and the
// same message lines as the window, and a clear end for every bad input.
#include <sys/file.h>
#include <sys/stat.h>
#include <algorithm>

#include "about/version_block.h"
#include "messaging/sms_submission.h"
#include "platform/cp1251.h"
#include "platform/utf8.h"
#include "tests/cli/cli_fixture.h"
#include "tests/support/gammu.h"

namespace vestrel::test {
namespace {

const std::vector<std::string> kDemoLines = {
    Message("+79161234567", "26/12/08,10:15:00", "Привет! Встреча завтра в 10:00."),
    Message("+79031112233", "26/12/08,11:20:30", "Hello from the office"),
    Message("+447700900123", "26/12/07,18:05:12", "Call me back please")};

// The --log file: time stamp, kind, text; "<" lines give back the bytes received.
struct LogFile {
  std::vector<std::string> notes, commands, lines;
  std::string received;
};

std::string Unescaped(const std::string& text) {
  std::string bytes;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 >= text.size()) {
      bytes += text[i];
      continue;
    }
    const char c = text[++i];
    if (c == 'r')
      bytes += '\r';
    else if (c == 'n')
      bytes += '\n';
    else if (c == '\\')
      bytes += '\\';
    else if (c == 'x') {
      bytes += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
      i += 2;
    }
  }
  return bytes;
}

LogFile ParseLog(const std::filesystem::path& path) {
  LogFile log;
  for (const std::string& line : Lines(ReadFile(path))) {
    EXPECT_GE(line.size(), 26u) << line;
    if (line.size() < 26) continue;
    const std::string text = line.substr(26);
    switch (line[24]) {
      case '>':
        log.commands.push_back(text);
        break;
      case '<':
        log.received += platform::Cp1251FromUtf8(Unescaped(text));
        break;
      case '=':
        log.lines.push_back(text);
        break;
      case '#':
        log.notes.push_back(text);
        break;
      default:
        ADD_FAILURE() << line;
    }
  }
  return log;
}

std::vector<std::string> MessageLines(const std::vector<std::string>& lines) {
  std::vector<std::string> messages;
  for (const auto& l : lines)
    if (l.rfind("№ тел: ", 0) == 0) messages.push_back(l);
  return messages;
}

class CliReading : public CliE2e {
 protected:
  // A reading of the scenario: the window's commands and lines, the log agrees.
  void ExpectReading(const std::string& scenario, const std::vector<std::string>& lines,
                     int last_index) {
    StartSim(scenario);
    const auto log_path = temp_.path() / "traffic.log";
    const Finished f = RunCli({"read", "--log", log_path.string()});
    EXPECT_EQ(f.exit_code, 0) << f.err;
    EXPECT_EQ(f.err, "");  // not a terminal: errors only
    EXPECT_EQ(Lines(f.out), lines);
    EXPECT_EQ(sim().Commands(), ReadCommands(last_index));
    EXPECT_TRUE(sim().StoredMessages("ME").empty());

    const LogFile log = ParseLog(log_path);
    // The command log of the window leaves out "at+cmgf=1".
    const auto commands = sim().Commands();
    EXPECT_EQ(log.commands, std::vector<std::string>(commands.begin() + 1, commands.end()));
    EXPECT_EQ(log.received, sim().Sent());
    EXPECT_EQ(MessageLines(log.lines), lines);
    EXPECT_EQ(log.lines.front(), "У Вас " + std::to_string(lines.size()) + " СМС");
  }
};

TEST_F(CliReading, Demo) {
  ExpectReading("demo", kDemoLines, 3);
}

TEST_F(CliReading, NumberedFromZero) {
  ExpectReading("base0",
                {Message("+79161234567", "26/12/08,10:15:00", "Первое сообщение"),
                 Message("+79031112233", "26/12/08,11:20:30", "Second message"),
                 Message("+79265554433", "26/12/08,12:00:59", "Third one in 7-bit")},
                3);
}

TEST_F(CliReading, PastEmptyPlaces) {
  ExpectReading("gaps",
                {Message("+79161234567", "26/12/08,09:00:00", "Сообщение номер четыре"),
                 Message("+79031112233", "26/12/08,09:30:00", "Message at seven")},
                7);
}

TEST_F(CliReading, EmptyInbox) {
  StartSim("empty");
  const Finished f = RunCli({"read", "--json"});
  EXPECT_EQ(f.exit_code, 0) << f.err;
  EXPECT_EQ(f.out, "");
  EXPECT_EQ(f.err, "");
  EXPECT_EQ(sim().Commands(), (std::vector<std::string>{"at+cmgf=1", "AT+CPMS=\"ME\""}));
}

TEST_F(CliReading, SlowChattyLine) {
  StartSim("faults");
  const Finished f = RunCli({"read"}, {}, "150,300");
  EXPECT_EQ(f.exit_code, 0) << f.err;
  EXPECT_EQ(Lines(f.out), kDemoLines);
  EXPECT_TRUE(sim().StoredMessages("ME").empty());
  // As in the window.
  ExpectReadingCommands(sim().Commands(), 3);
}

TEST_F(CliReading, JsonLinesParseWithTheirIndexes) {
  StartSim("demo");
  const Finished f = RunCli({"read", "--json"});
  EXPECT_EQ(f.exit_code, 0) << f.err;
  const auto lines = Lines(f.out);
  ASSERT_EQ(lines.size(), 3u);
  const std::vector<std::tuple<std::string, std::string, std::string>> expected = {
      {"+79161234567", "26/12/08,10:15:00", "Привет! Встреча завтра в 10:00."},
      {"+79031112233", "26/12/08,11:20:30", "Hello from the office"},
      {"+447700900123", "26/12/07,18:05:12", "Call me back please"}};
  for (std::size_t i = 0; i < 3; ++i) {
    const auto json = nlohmann::json::parse(lines[i]);
    EXPECT_EQ(json["number"], std::get<0>(expected[i]));
    EXPECT_EQ(json["time"], std::get<1>(expected[i]));
    EXPECT_EQ(json["text"], std::get<2>(expected[i]));
    EXPECT_EQ(json["index"], static_cast<int>(i) + 1);  // the demo numbers from 1
  }
}

TEST_F(CliReading, ModemThatHangsUpMidReading) {
  nlohmann::json scenario = test::ScenarioJson("demo");
  scenario["faults"]["hangup_after"] = 5;  // after the answer to AT+CMGR=1
  StartSimJson(scenario);
  const Finished f = RunCli({"read"});
  EXPECT_EQ(f.exit_code, 4) << f.err;
  EXPECT_TRUE(f.err == "vestrel-sms: Ошибка записи в порт.\n" ||
              f.err == "vestrel-sms: Ошибка чтения из порта.\n")
      << f.err;
  const auto commands = sim().Commands();
  const auto all = ReadCommands(3);
  EXPECT_EQ(commands, std::vector<std::string>(all.begin(), all.begin() + 5));
  // The line went before the delete of the message read last: all three stay.
  EXPECT_EQ(sim().StoredMessages("ME").size(), 3u);
}

TEST_F(CliReading, ModemThatNeverAnswersTimesOut) {
  nlohmann::json scenario = test::ScenarioJson("demo");
  // The count never comes: the storage command answers with a bare OK.
  scenario["faults"]["errors"] = {{{"command", "AT+CPMS=\"ME\""}, {"answer", "OK"}}};
  StartSimJson(scenario);
  const Finished f = RunCli({"read", "--timeout", "1"});
  EXPECT_EQ(f.exit_code, 6) << f.err;
  EXPECT_EQ(f.err, "vestrel-sms: no answer from the modem for 1 s; the reading is not complete\n");
  EXPECT_EQ(sim().Commands(), (std::vector<std::string>{"at+cmgf=1", "AT+CPMS=\"ME\""}));
}

// Ctrl-C while the program only waits for the modem ends it at once.
TEST_F(CliReading, InterruptWhileWaitingForTheModem) {
  nlohmann::json scenario = test::ScenarioJson("demo");
  scenario["faults"]["errors"] = {{{"command", "AT+CPMS=\"ME\""}, {"answer", "OK"}}};
  StartSimJson(scenario);
  auto child = StartCli({"read"});  // the default time-out: a minute
  ASSERT_TRUE(sim().WaitForCount("command", 2));
  child->Interrupt();
  const Finished f = child->Wait();
  EXPECT_EQ(f.exit_code, 130) << f.err;
  EXPECT_EQ(f.err, "");
  EXPECT_EQ(sim().Commands(), (std::vector<std::string>{"at+cmgf=1", "AT+CPMS=\"ME\""}));
}

TEST_F(CliReading, CountThatDoesNotReadEndsTheReading) {
  nlohmann::json scenario = test::ScenarioJson("demo");
  scenario["faults"]["errors"] = {
      {{"command", "AT+CPMS=\"ME\""}, {"answer", "+CPMS: 3"}, {"times", 1}}};
  StartSimJson(scenario);
  const Finished f = RunCli({"read"});
  EXPECT_EQ(f.exit_code, 4);
  // As in the window's box: no full stop after a closing quotation mark.
  EXPECT_EQ(f.err, "vestrel-sms: Модем сообщил число СМС в непонятном виде: \"\"\n");
  EXPECT_EQ(sim().Commands(), (std::vector<std::string>{"at+cmgf=1", "AT+CPMS=\"ME\""}));
  EXPECT_EQ(sim().StoredMessages("ME").size(), 3u);
}

// Ctrl-C in the middle of the first pass: no further command, and no message
// lost: each one is printed or still on the phone.
TEST_F(CliReading, InterruptStopsBeforeTheNextCommand) {
  StartSim("demo");
  auto child = StartCli({"read"}, {}, "400,300");
  ASSERT_TRUE(sim().WaitFor([](const test::Records& r) {
    for (const auto& rec : r)
      if (rec["type"] == "command" && rec["line"] == "AT+CMGR=1") return true;
    return false;
  }));
  child->Interrupt();
  const Finished f = child->Wait();
  EXPECT_EQ(f.exit_code, 130) << f.err;
  const auto commands = sim().Commands();
  const auto all = ReadCommands(3);
  ASSERT_LT(commands.size(), all.size());
  EXPECT_EQ(commands, std::vector<std::string>(all.begin(), all.begin() + commands.size()));
  std::string kept;
  for (const auto& m : sim().StoredMessages("ME")) kept += m.dump();
  for (const std::string number : {"+79161234567", "+79031112233", "+447700900123"}) {
    const bool printed = f.out.find(number.substr(0, 12)) != std::string::npos;
    EXPECT_TRUE(printed || kept.find(number) != std::string::npos) << number << " lost";
  }
}

// 150 Russian letters from standard input: three SMS of 70, 70 and 10, the
// window's PDUs, decoded independently.
TEST_F(CliE2e, SendsALongRussianTextFromStandardInput) {
  StartSim("empty");
  std::string text;
  for (int i = 0; i < 150; ++i) text += static_cast<char>(0xC0 + (i * 7) % 64);
  const std::string utf8 = platform::Cp1251ToUtf8(text);
  const auto log_path = temp_.path() / "send.log";
  const Finished f =
      RunCli({"send", "--separate", "79161234567", "--log", log_path.string()}, utf8 + "\n");
  EXPECT_EQ(f.exit_code, 0) << f.err;
  EXPECT_EQ(f.out, "sent 3 parts: references 1 2 3\n");
  EXPECT_EQ(f.err, "");
  const auto sms = sim().Sms();
  ASSERT_EQ(sms.size(), 3u);
  std::vector<std::string> pdus, expected_log;
  for (int i = 0; i < 3; ++i) {
    const std::string part = text.substr(70 * i, 70);
    const std::string pdu = BuildSubmitPdu("79161234567", part);
    EXPECT_EQ(sms[i]["pdu"].get<std::string>(), pdu);
    pdus.push_back(pdu);
    expected_log.push_back("AT+CMGF=0");
    expected_log.push_back("AT+CMGS=" + std::to_string(TpduLength(pdu)));
    expected_log.push_back(pdu);
  }
  const auto decoded = test::GammuDecode(pdus);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(decoded[i]["number"], "+79161234567") << decoded[i].dump();
    EXPECT_EQ(decoded[i]["text"], platform::Cp1251ToUtf8(text.substr(70 * i, 70)));
    EXPECT_EQ(decoded[i]["coding"], "Unicode_No_Compression");
  }
  EXPECT_EQ(sim().Commands(), (std::vector<std::string>{"AT+CMGF=0", "AT+CMGS=154", "AT+CMGF=0",
                                                        "AT+CMGS=154", "AT+CMGF=0", "AT+CMGS=34"}));
  const LogFile log = ParseLog(log_path);
  EXPECT_EQ(log.commands, expected_log);
  EXPECT_EQ(log.received, sim().Sent());
}

// The archive in a folder of the test's own while it runs.
class OwnArchive {
 public:
  explicit OwnArchive(const std::filesystem::path& folder) {
    if (const char* previous = std::getenv("XDG_DATA_HOME")) previous_ = previous;
    ::setenv("XDG_DATA_HOME", folder.c_str(), 1);
  }
  ~OwnArchive() {
    if (previous_)
      ::setenv("XDG_DATA_HOME", previous_->c_str(), 1);
    else
      ::unsetenv("XDG_DATA_HOME");
  }

 private:
  std::optional<std::string> previous_;
};

// The modem refuses the first of two parts: the send ends there, says which
// part and why, and the archive keeps it as refused.
TEST_F(CliE2e, RefusedPartEndsTheSend) {
  const OwnArchive kept(temp_.path());
  StartSimJson(
      {{"faults", {{"errors", {{{"command", "AT+CMGS=*"}, {"answer", "+CMS ERROR: 500"}}}}}}});
  const std::string text(100, 'r');
  const std::string refused = "модем ответил +CMS ERROR: 500 (неизвестная ошибка)";
  Finished f = RunCli({"send", "--separate", "79161234567", text});
  EXPECT_EQ(f.exit_code, 8) << f.err;
  EXPECT_EQ(f.out, "");
  EXPECT_EQ(f.err, "vestrel-sms: СМС не отправлено: часть 1 из 2 — " + refused + "\n");
  EXPECT_EQ(sim().Commands(), (std::vector<std::string>{"AT+CMGF=0", "AT+CMGS=154"}));
  EXPECT_TRUE(sim().Sms().empty());

  f = RunCli({"send", "--separate", "79161234567", text, "--json"});
  EXPECT_EQ(f.exit_code, 8) << f.err;
  EXPECT_EQ(nlohmann::json::parse(f.out),
            nlohmann::json::parse(R"({"status":"refused","parts":2,"part":1,"error":")" + refused +
                                  R"(","error_code":500,"references":[]})"));

  f = Child(TestingProgram(), {"archive", "--sent", "--json"}).Wait();
  ASSERT_EQ(f.exit_code, 0) << f.err;
  const auto last = nlohmann::json::parse(f.out.substr(0, f.out.find('\n')));
  EXPECT_EQ(last["status"], "refused");
  ASSERT_EQ(last["parts"].size(), 1u);
  EXPECT_EQ(last["parts"][0]["status"], "refused");
  EXPECT_EQ(last["parts"][0]["error_code"], 500);
  EXPECT_EQ(last["parts"][0]["text"], std::string(70, 'r'));
  f = Child(TestingProgram(), {"archive", "--sent"}).Wait();
  EXPECT_NE(f.out.find(" 79161234567 (2) refused rrr"), std::string::npos) << f.out;
}

// A port with nothing behind it: the part is unknown, not sent.
TEST_F(CliE2e, SilentModemLeavesThePartUnknown) {
  const OwnArchive kept(temp_.path());
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(::grantpt(master), 0);
  ASSERT_EQ(::unlockpt(master), 0);
  const Finished f = Child(TestingProgram(), {"send", "79161234567", "Hi", "--json",
                                              std::string("--port=") + ::ptsname(master),
                                              "--testing-durations=50,200"})
                         .Wait();
  ::close(master);
  EXPECT_EQ(f.exit_code, 8) << f.err;
  EXPECT_EQ(f.err, "vestrel-sms: СМС не отправлено: часть 1 из 1 — модем не ответил\n");
  EXPECT_EQ(nlohmann::json::parse(f.out)["status"], "unknown");
}

// By default a text is one message in the cheapest coding, its parts linked
// as a phone links them; the reference is the archive's next send, so two
// sends differ.
TEST_F(CliE2e, SendsOneConcatenatedMessageInTheCheapestCoding) {
  const test::TempDir data;
  const char* previous = std::getenv("XDG_DATA_HOME");
  const std::string kept_previous = previous ? previous : "";
  ::setenv("XDG_DATA_HOME", data.path().c_str(), 1);
  const std::string pangram = "Съешь же ещё этих мягких французских булок, да выпей чаю. ";
  std::string russian;  // 200 characters
  for (char32_t c :
       platform::Utf8ToCodePoints(pangram + pangram + pangram + pangram)->substr(0, 200))
    platform::AppendUtf8(russian, c);
  std::string latin;
  while (latin.size() < 300) latin += "The quick brown fox jumps over the lazy dog. ";
  latin.resize(300);
  struct Case {
    std::string text;
    std::size_t parts;
    std::string coding;
    std::vector<std::string> lengths;  // AT+CMGS=
  };
  const std::vector<Case> cases = {
      {russian, 3, "Unicode_No_Compression", {"154", "154", "152"}},
      {latin, 2, "Default_No_Compression", {"154", "149"}},
      {"Привет 👋", 1, "Unicode_No_Compression", {"32"}},
  };
  int reference = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    sim_.reset();
    StartSim("empty");
    const Finished f = RunCli({"send", "79161234567", c.text}, {}, "100,50");
    EXPECT_EQ(f.exit_code, 0) << f.err;
    std::vector<std::string> pdus, commands;
    for (const auto& sms : sim().Sms()) {
      pdus.push_back(sms["pdu"].get<std::string>());
      if (c.parts > 1) {
        if (reference == 0) reference = sms["concat"]["reference"];
        EXPECT_EQ(sms["concat"]["reference"], reference);
      }
    }
    ASSERT_EQ(pdus.size(), c.parts);
    for (const auto& length : c.lengths) {
      commands.push_back("AT+CMGF=0");
      commands.push_back("AT+CMGS=" + length);
    }
    EXPECT_EQ(sim().Commands(), commands);
    for (const auto& d : test::GammuDecode(pdus)) EXPECT_EQ(d["coding"], c.coding) << d.dump();
    const auto linked = test::GammuLink(pdus);
    ASSERT_EQ(linked.size(), 1u);
    EXPECT_EQ(linked[0]["parts"], c.parts);
    EXPECT_EQ(linked[0]["text"], c.text);
    if (c.parts > 1) {
      ASSERT_EQ(sim().OfType("sms_joined").size(), 1u);
      EXPECT_EQ(sim().OfType("sms_joined")[0]["text"], c.text);
      ++reference;  // the next send's
    }
  }
  if (previous)
    ::setenv("XDG_DATA_HOME", kept_previous.c_str(), 1);
  else
    ::unsetenv("XDG_DATA_HOME");
}

TEST_F(CliE2e, TextWithLineBreaksGoesOutAsTheWindowSendsIt) {
  StartSim("empty");
  const Finished f = RunCli({"send", "--separate", "79161234567", "Две\nстроки"});
  EXPECT_EQ(f.exit_code, 0) << f.err;
  ASSERT_EQ(sim().Sms().size(), 1u);
  EXPECT_EQ(sim().Sms()[0]["pdu"].get<std::string>(),
            BuildSubmitPdu("79161234567", platform::Cp1251FromUtf8("Две\r\nстроки")));
  // "-" as TEXT: the same text from standard input.
  const Finished piped = RunCli({"send", "--separate", "79161234567", "-"}, "Две\nстроки\n");
  EXPECT_EQ(piped.exit_code, 0) << piped.err;
  ASSERT_EQ(sim().Sms().size(), 2u);
  EXPECT_EQ(sim().Sms()[1]["pdu"], sim().Sms()[0]["pdu"]);
}

// A number as people write it, and a text as PowerShell pipes it (UTF-16 with
// its mark, CR LF), go out as the window would send the digits and the text;
// the log is the user's own.
TEST_F(CliE2e, NumberFormsAndUtf16StandardInput) {
  StartSim("empty");
  std::string utf16 = "\xFF\xFE";
  for (char16_t unit : u"Привет\r\n") {
    if (!unit) break;
    utf16 += static_cast<char>(unit & 0xFF);
    utf16 += static_cast<char>(unit >> 8);
  }
  const auto log_path = temp_.path() / "own.log";
  const Finished f = RunCli({"send", "+7 (916) 123-45-67", "--log", log_path.string()}, utf16);
  EXPECT_EQ(f.exit_code, 0) << f.err;
  ASSERT_EQ(sim().Sms().size(), 1u);
  EXPECT_EQ(sim().Sms()[0]["pdu"].get<std::string>(),
            BuildSubmitPdu("79161234567", platform::Cp1251FromUtf8("Привет")));
  struct stat st {};
  ASSERT_EQ(::stat(log_path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

// A link where the log, the archive's file or its folder should be is refused
// before the port is used, and what it names stays as it was.
TEST_F(CliE2e, LinksAreNeverFollowed) {
  const test::TempDir data;
  const std::filesystem::path theirs = data.path() / "theirs";
  std::filesystem::create_directories(theirs);
  std::ofstream(theirs / "their.file", std::ios::binary) << "their bytes";
  const auto kept = [&] {
    std::ifstream in(theirs / "their.file", std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), {});
    return bytes == "their bytes" &&
           std::distance(std::filesystem::directory_iterator(theirs), {}) == 1;
  };
  StartSim("demo");
  std::filesystem::create_symlink(theirs / "their.file", data.path() / "log");
  Finished f = RunCli({"read", "--log", (data.path() / "log").string()});
  EXPECT_EQ(f.exit_code, 2);
  EXPECT_NE(f.err.find("it is a link"), std::string::npos) << f.err;
  EXPECT_EQ(sim().Received(), "");
  EXPECT_TRUE(kept());

  const char* previous = std::getenv("XDG_DATA_HOME");
  const std::string kept_previous = previous ? previous : "";
  for (const std::string linked : {"file", "folder"}) {
    const std::filesystem::path home = data.path() / linked;
    if (linked == "file") {
      std::filesystem::create_directories(home / "vestrel");
      std::filesystem::create_symlink(theirs / "their.file", home / "vestrel" / "archive.sqlite");
    } else {
      std::filesystem::create_directories(home);
      std::filesystem::create_directory_symlink(theirs, home / "vestrel");
    }
    ::setenv("XDG_DATA_HOME", home.c_str(), 1);
    sim_.reset();
    StartSim("demo");
    f = RunCli({"read"});
    EXPECT_EQ(f.exit_code, 7) << linked << f.err;
    EXPECT_EQ(f.err.rfind("vestrel-sms: Архив СМС недоступен: ", 0), 0u) << f.err;
    EXPECT_NE(f.err.find("ссылка"), std::string::npos) << f.err;
    EXPECT_TRUE(kept()) << linked;
  }
  if (previous)
    ::setenv("XDG_DATA_HOME", kept_previous.c_str(), 1);
  else
    ::unsetenv("XDG_DATA_HOME");
}

// Bad input ends with its message and exit code, and nothing reaches the modem.
TEST_F(CliE2e, BadInputWritesNothing) {
  StartSim("empty");
  struct Case {
    std::vector<std::string> args;
    std::string input;
    int code;
    std::string err;
  };
  const std::vector<Case> cases = {
      {{"send", "7916+1234567", "Hi"},
       "",
       5,
       "vestrel-sms: Номер получателя должен состоять только из цифр (без \"+\")\n"},
      {{"send", "7916 12a", "Hi"}, "", 5, ""},
      {{"send", "79161234567"},
       "\xFF\xFE\x3D\xD8",
       2,
       "vestrel-sms: standard input starts as UTF-16"},
      {{"send", "79161234567", ""}, "", 2, "vestrel-sms: the text is empty; nothing sent\n"},
      {{"send", "79161234567"}, "\n", 2, "vestrel-sms: the text is empty; nothing sent\n"},
      {{"send", "79161234567"},
       "ok \xD0\x9F\xFF",
       2,
       "vestrel-sms: the text is not valid UTF-8 (byte 6); nothing sent\n"},
      {{"send", "--separate", "79161234567", "Hi 😀"}, "", 2, ""},
      {{"archive", "--since", "soon"}, "", 2, "vestrel-sms: --since wants a date"},
      {{"read", "--timeout", "soon"}, "", 2, ""},
  };
  for (const Case& c : cases) {
    const Finished f = RunCli(c.args, c.input);
    EXPECT_EQ(f.exit_code, c.code) << c.args[0] << " " << c.args[1];
    EXPECT_EQ(f.out, "");
    if (!c.err.empty()) {
      EXPECT_EQ(f.err.substr(0, c.err.size()), c.err);
    }
    EXPECT_NE(f.err, "");
  }
  EXPECT_TRUE(sim().Commands().empty());
  EXPECT_EQ(sim().Received(), "");
}

// What a reading shows is kept in the archive, which the archive command lists.
TEST_F(CliE2e, ReadingsAreKeptAndListed) {
  const test::TempDir data;
  const char* previous = std::getenv("XDG_DATA_HOME");
  const std::string kept_previous = previous ? previous : "";
  ::setenv("XDG_DATA_HOME", data.path().c_str(), 1);
  StartSim("demo");
  Finished f = RunCli({"read"});
  EXPECT_EQ(f.exit_code, 0) << f.err;
  f = Child(TestingProgram(), {"archive", "--json"}).Wait();
  EXPECT_EQ(f.exit_code, 0) << f.err;
  std::vector<nlohmann::json> rows;
  std::istringstream lines(f.out);
  for (std::string line; std::getline(lines, line);) rows.push_back(nlohmann::json::parse(line));
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[2]["number"], "+79161234567");
  EXPECT_EQ(rows[2]["text"], "Привет! Встреча завтра в 10:00.");
  // Cyrillic matched in any case; CSV with its BOM.
  f = Child(TestingProgram(), {"archive", "--match", "ПРИВЕТ"}).Wait();
  EXPECT_EQ(f.exit_code, 0);
  EXPECT_NE(
      f.out.find(Message("+79161234567", "26/12/08,10:15:00", "Привет! Встреча завтра в 10:00.")),
      std::string::npos);
  EXPECT_EQ(std::count(f.out.begin(), f.out.end(), '\n'), 1);
  f = Child(TestingProgram(), {"archive", "--csv", "--since", "2000-01-01"}).Wait();
  EXPECT_EQ(f.out.rfind("\xEF\xBB\xBF", 0), 0u);
  // With --no-archive nothing is added.
  sim_.reset();
  StartSim("base0");
  f = RunCli({"read", "--no-archive"});
  EXPECT_EQ(f.exit_code, 0) << f.err;
  f = Child(TestingProgram(), {"archive", "--json"}).Wait();
  EXPECT_EQ(std::count(f.out.begin(), f.out.end(), '\n'), 3);
  // Narrower listings, and removing what is older than a date.
  struct Case {
    std::vector<std::string> args;
    int exit_code;
    std::string out;
  };
  const Case cases[] = {
      {{"archive", "--count"}, 0, "3\n"},
      {{"archive", "--count", "--number", "+7 (916) 123-45-67"}, 0, "1\n"},
      {{"archive", "--count", "--until", "2000-01-01"}, 0, "0\n"},
      // Each read's answer is kept on its own before its delete.
      {{"archive", "--count", "--raw", "--match", "cmgr"}, 0, "4\n"},
      {{"archive", "--limit", "1", "--json", "--sent"}, 0, ""},
      {{"archive", "--purge-before", "2999-01-01"}, 2, ""},
      {{"archive", "--count"}, 0, "3\n"},
  };
  for (const Case& c : cases) {
    f = Child(TestingProgram(), c.args).Wait();
    EXPECT_EQ(f.exit_code, c.exit_code) << c.args[1] << " " << f.err;
    EXPECT_EQ(f.out, c.out) << c.args[1];
  }
  const std::string raw = Child(TestingProgram(), {"archive", "--count", "--raw"}).Wait().out;
  f = Child(TestingProgram(), {"archive", "--purge-before", "2999-01-01", "--yes"}).Wait();
  EXPECT_EQ(f.exit_code, 0) << f.err;
  EXPECT_EQ(f.out, "removed 3 messages read, 0 sends with their parts and answers, " +
                       raw.substr(0, raw.size() - 1) + " raw readings older than 2999-01-01\n");
  EXPECT_EQ(Child(TestingProgram(), {"archive", "--count"}).Wait().out, "0\n");
  // An archive that cannot be used: nothing can be kept, so nothing is
  // deleted; the exit code and the messages say why.
  std::ofstream(data.path() / "blocked") << "x";
  ::setenv("XDG_DATA_HOME", (data.path() / "blocked").c_str(), 1);
  sim_.reset();
  StartSim("demo");
  f = RunCli({"read"});
  EXPECT_EQ(f.exit_code, 7) << f.err;
  EXPECT_EQ(f.out, "");
  EXPECT_EQ(f.err.rfind("vestrel-sms: Архив СМС недоступен: ", 0), 0u) << f.err;
  EXPECT_NE(f.err.find(
                "Ответ на чтение СМС №0 не сохранён: чтение остановлено, СМС оставлены в телефоне"),
            std::string::npos)
      << f.err;
  EXPECT_EQ(sim().StoredMessages("ME").size(), 3u);
  const auto commands = sim().Commands();
  EXPECT_EQ(std::count(commands.begin(), commands.end(), "AT+CMGD=0"), 0);
  if (previous)
    ::setenv("XDG_DATA_HOME", kept_previous.c_str(), 1);
  else
    ::unsetenv("XDG_DATA_HOME");
}

TEST_F(CliE2e, PortThatDoesNotExistOrIsBusy) {
  StartSim("demo");
  const std::string missing = (temp_.path() / "no-such-modem").string();
  Finished f = Child(TestingProgram(), {"read", "--port", missing}).Wait();
  EXPECT_EQ(f.exit_code, 3);
  ASSERT_FALSE(f.err.empty());
  EXPECT_EQ(Lines(f.err)[0],
            "vestrel-sms: " + missing + ": Попытка открыть несуществующий COM-порт.");
  EXPECT_NE(f.err.find(missing + " is given with --port."), std::string::npos) << f.err;
  f = Child(TestingProgram(), {"send", "79161234567", "Hi", "--port", "COM999"}).Wait();
  EXPECT_EQ(f.exit_code, 3);
  ASSERT_FALSE(f.err.empty());
  EXPECT_EQ(Lines(f.err)[0], "vestrel-sms: COM999: Попытка открыть несуществующий COM-порт.");

  // Another process holds the port.
  const int fd = ::open(sim().link().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
  f = RunCli({"send", "79161234567", "Hi"});
  EXPECT_EQ(f.exit_code, 3);
  EXPECT_EQ(f.err, "vestrel-sms: " + sim().link() + ": Порт занят другой программой.\n");
  f = RunCli({"read"});
  EXPECT_EQ(f.exit_code, 3);
  ::close(fd);
  EXPECT_TRUE(sim().Commands().empty());
  EXPECT_EQ(sim().Received(), "");
}

// A port the user may not open: the window's message, nothing written. Run as
// root the program runs as "nobody"; otherwise the user takes the rights away
// from their own pty.
TEST_F(CliE2e, NoRightsToThePort) {
  StartSim("demo");
  std::optional<uid_t> run_as;
  if (::geteuid() == 0) {
    run_as = 65534;
  } else {
    ASSERT_EQ(::chmod(sim().slave().c_str(), 0), 0);
  }
  const Finished f =
      Child(TestingProgram(), {"send", "79161234567", "Hi", "--port", sim().link()}, {}, {}, run_as)
          .Wait();
  EXPECT_EQ(f.exit_code, 3);
  ASSERT_FALSE(f.err.empty());
  EXPECT_EQ(Lines(f.err)[0], "vestrel-sms: " + sim().link() + ": Нет прав доступа к COM-порту.");
  EXPECT_NE(f.err.find("sudo usermod -aG dialout $USER"), std::string::npos) << f.err;
  EXPECT_EQ(sim().Received(), "");
}

// Without --port: VESTREL_PORT, else the user's own file; the --log file
// starts with the version, the port and where it came from, and the command line.
TEST_F(CliE2e, PortFromTheVariableOrTheUsersFile) {
  StartSim("empty");
  const std::string log_path = (temp_.path() / "read.log").string();
  const std::vector<std::string> args = {"read", "--no-archive", "--log", log_path,
                                         "--testing-durations=100,300"};
  Finished f =
      Child(TestingProgram(), args, {}, {}, std::nullopt, {{"VESTREL_PORT", sim().link()}}).Wait();
  EXPECT_EQ(f.exit_code, 0) << f.err;
  const LogFile log = ParseLog(log_path);
  ASSERT_EQ(log.notes.size(), 3u);
  EXPECT_EQ(log.notes[0].rfind("vestrel-sms 1.", 0), 0u) << log.notes[0];
  EXPECT_EQ(log.notes[1], "port " + sim().link() + " (from the variable VESTREL_PORT)");
  EXPECT_EQ(log.notes[2], "command line: vestrel-sms read --no-archive --log " + log_path +
                              " --testing-durations=100,300");
  EXPECT_FALSE(log.commands.empty());

  const auto config = temp_.path() / "config";
  std::filesystem::create_directories(config / "vestrel");
  // The archive it names is taken beside it.
  std::ofstream(config / "vestrel" / "vestrel-sms.ini")
      << "[MODEM]\nCOM Порт=" << sim().link() << "\nАрхив=kept.sqlite\n";
  f = Child(TestingProgram(), {"read", "--testing-durations=100,300"}, {}, {}, std::nullopt,
            {{"XDG_CONFIG_HOME", config.string()}})
          .Wait();
  EXPECT_EQ(f.exit_code, 0) << f.err;
  EXPECT_TRUE(std::filesystem::exists(config / "vestrel" / "kept.sqlite"));
  const auto commands = sim().Commands();
  EXPECT_EQ(std::count(commands.begin(), commands.end(), "at+cmgf=1"), 2);
}

// ports --probe: the simulator answers (ATI and AT+CGMI as scripted, AT+CGMM
// with ERROR); a pty nobody answers gets "AT" and nothing more; a port another
// program holds is not written to; a missing one is named.
TEST_F(CliE2e, ProbeFindsTheModemAndLeavesTheOthersAlone) {
  const nlohmann::json answers = {
      {{"command", "ATI"}, {"answer", "Vestrel test modem\r\nRevision 7\r\n\r\nOK"}},
      {{"command", "AT+CGMI"}, {"answer", "Vestrel\r\n\r\nOK"}}};
  StartSimJson({{"faults", {{"errors", answers}}}});
  test::ModemSim held;
  const int held_fd = ::open(held.link().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(held_fd, 0);
  ASSERT_EQ(::flock(held_fd, LOCK_EX | LOCK_NB), 0);
  const int silent = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(silent, 0);
  ASSERT_EQ(::grantpt(silent), 0);
  ASSERT_EQ(::unlockpt(silent), 0);
  const std::string silent_port = ::ptsname(silent);
  const std::string missing = (temp_.path() / "no-such-modem").string();

  Finished f = Child(TestingProgram(), {"ports", "--probe", sim().link(), silent_port, held.link(),
                                        missing, "--testing-durations=300,300"})
                   .Wait();
  EXPECT_EQ(f.exit_code, 0) << f.err;
  EXPECT_EQ(f.out, sim().link() +
                       ": a modem answers\n"
                       "  AT       OK\n"
                       "  ATI      Vestrel test modem / Revision 7\n"
                       "  AT+CGMI  Vestrel\n"
                       "  AT+CGMM  ERROR\n" +
                       silent_port + ": no answer to AT\n" + held.link() +
                       ": busy: another program holds it; left alone\n" + missing +
                       ": no such port\n");
  EXPECT_EQ(sim().Commands(), (std::vector<std::string>{"AT", "ATI", "AT+CGMI", "AT+CGMM"}));
  char written[64];
  const ssize_t n = ::read(silent, written, sizeof written);
  EXPECT_EQ(std::string(written, n > 0 ? n : 0), "AT\r");
  EXPECT_EQ(held.Received(), "");

  // No modem among them: exit code 3.
  f = Child(TestingProgram(), {"ports", "--probe", silent_port, "--testing-durations=300,300"})
          .Wait();
  EXPECT_EQ(f.exit_code, 3);
  ::close(silent);
  ::close(held_fd);
  EXPECT_EQ(held.Stop(), 0);
}

// Ctrl-C while the first of three parts is on its way: that part goes out
// whole, the others not at all.
TEST_F(CliE2e, InterruptDuringASendEndsAfterThePartBeingWritten) {
  StartSim("empty");
  const std::string text(150, 'x');
  auto child = StartCli({"send", "--separate", "79161234567", text}, {}, "300,3000");
  // The length command is out; the PDU follows after a modem wait.
  ASSERT_TRUE(sim().WaitFor([](const test::Records& r) {
    for (const auto& rec : r)
      if (rec["type"] == "command" && rec["line"] == "AT+CMGS=154") return true;
    return false;
  }));
  child->Interrupt();
  const Finished f = child->Wait();
  EXPECT_EQ(f.exit_code, 130) << f.err;
  ASSERT_EQ(sim().Sms().size(), 1u);
  EXPECT_EQ(sim().Sms()[0]["pdu"].get<std::string>(),
            BuildSubmitPdu("79161234567", std::string(70, 'x')));
  EXPECT_TRUE(sim().OfType("sms_rejected").empty());
  EXPECT_TRUE(sim().OfType("sms_cancelled").empty());
  EXPECT_EQ(sim().Commands(), (std::vector<std::string>{"AT+CMGF=0", "AT+CMGS=154"}));
  // The last byte the modem got ends the PDU.
  EXPECT_EQ(sim().Received().back(), '\x1A');
}

TEST_F(CliE2e, InterruptDuringThePauseSendsNoFurtherPart) {
  StartSim("empty");
  auto child =
      StartCli({"send", "--separate", "79161234567", std::string(150, 'y')}, {}, "100,5000");
  ASSERT_TRUE(sim().WaitForCount("sms", 1));
  child->Interrupt();
  const Finished f = child->Wait();
  EXPECT_EQ(f.exit_code, 130);
  EXPECT_EQ(sim().Sms().size(), 1u);
  EXPECT_EQ(sim().Commands().size(), 2u);
}

// On a terminal, standard error shows how far the work is; standard output
// still holds the messages alone.
TEST_F(CliE2e, ProgressOnATerminal) {
  StartSim("demo");
  Finished f = RunCliOnTerminal({"read"});
  EXPECT_EQ(f.exit_code, 0) << f.err;
  EXPECT_EQ(Lines(f.out), kDemoLines);
  for (const char* shown : {"У Вас 3 СМС\r\n", "reading index 0\r\n", "reading index 3\r\n"})
    EXPECT_NE(f.err.find(shown), std::string::npos) << shown << " in " << f.err;
  EXPECT_EQ(f.err.find("№ тел"), std::string::npos);

  f = RunCliOnTerminal({"send", "--separate", "79161234567", std::string(71, 'z')});
  EXPECT_EQ(f.exit_code, 0) << f.err;
  EXPECT_EQ(f.out, "sent 2 parts: references 1 2\n");
  for (const char* shown :
       {"part 1 of 2 written\r\n", "\rpause: 2 s ", "\rpause: 1 s ", "part 2 of 2 written\r\n"})
    EXPECT_NE(f.err.find(shown), std::string::npos) << shown << " in " << f.err;
}

TEST_F(CliE2e, VersionIsTheVersionBlocksFileVersion) {
  const std::string description =
      ReadFile(test::BinDir().parent_path() / "version" / "vestrel.version");
  std::string file_version;
  for (const auto& table : ParseVersionDescription(description).string_tables)
    for (const auto& [name, value] : table.strings)
      if (name == "FileVersion" && file_version.empty()) file_version = value;
  ASSERT_FALSE(file_version.empty());
  for (const auto& program : {InstalledProgram(), TestingProgram()}) {
    const Finished f = Child(program, {"--version"}).Wait();
    EXPECT_EQ(f.exit_code, 0);
    EXPECT_EQ(f.out, "vestrel-sms " + file_version + "\n");
  }
  const Finished help = Child(InstalledProgram(), {"--help"}).Wait();
  EXPECT_EQ(help.exit_code, 0);
  EXPECT_NE(help.out.find("Exit codes:"), std::string::npos);
}

TEST_F(CliE2e, InstalledProgramKnowsNoTestingOption) {
  StartSim("demo");
  const Finished f =
      Child(InstalledProgram(), {"read", "--port", sim().link(), "--testing-durations=1,1"}).Wait();
  EXPECT_EQ(f.exit_code, 2);
  EXPECT_EQ(f.err.rfind("vestrel-sms: unknown option \"--testing-durations=1,1\"", 0), 0u);
  EXPECT_TRUE(sim().Commands().empty());
}

// The installed program at the real durations: the three modem waits, then
// the end as soon as the answer is in, not after the 20 s pause.
TEST_F(CliE2e, InstalledProgramEndsASendWithItsAnswer) {
  StartSim("empty");
  const auto start = std::chrono::steady_clock::now();
  const Finished f =
      Child(InstalledProgram(), {"send", "79161234567", "Привет", "--port", sim().link()}).Wait();
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(f.exit_code, 0) << f.err;
  EXPECT_EQ(f.out, "sent 1 part: reference 1\n");
  EXPECT_GE(took, std::chrono::seconds(3));
  EXPECT_LT(took, std::chrono::seconds(20));
}

// The installed program at the window's durations (it knows no other, see
// above and CliOptions), its port from Pelmora.ini beside it; without the file
// it tries COM11 and creates nothing.
TEST_F(CliE2e, InstalledProgramReadsWithTheWindowsDurationsAndItsIni) {
  StartSim("base0");
  const auto folder = temp_.path() / "opt";
  std::filesystem::create_directories(folder);
  const auto program = folder / "vestrel-sms";
  std::filesystem::copy_file(InstalledProgram(), program);
  Finished f = Child(program, {"read"}).Wait();
  EXPECT_EQ(f.exit_code, 3);
  ASSERT_FALSE(f.err.empty());
  EXPECT_EQ(Lines(f.err)[0], "vestrel-sms: COM11: Попытка открыть несуществующий COM-порт.");
  EXPECT_NE(f.err.find("COM11 is the default: no port is set."), std::string::npos) << f.err;
  EXPECT_FALSE(std::filesystem::exists(folder / "Pelmora.ini"));

  std::ofstream(folder / "Pelmora.ini", std::ios::binary)
      << "[MODEM]\r\n"
      << platform::Cp1251FromUtf8("COM Порт") << "=" << sim().link() << "\r\n";
  f = Child(program, {"read"}).Wait();
  EXPECT_EQ(f.exit_code, 0) << f.err;
  EXPECT_EQ(Lines(f.out), (std::vector<std::string>{
                              Message("+79161234567", "26/12/08,10:15:00", "Первое сообщение"),
                              Message("+79031112233", "26/12/08,11:20:30", "Second message"),
                              Message("+79265554433", "26/12/08,12:00:59", "Third one in 7-bit")}));
  EXPECT_EQ(sim().Commands(), ReadCommands(3));
}

}  // namespace
}  // namespace vestrel::test
