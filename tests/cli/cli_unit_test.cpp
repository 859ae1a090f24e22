// The parts of vestrel-sms that need no modem: its command line, the texts at
// its edges, its output lines and the list of serial devices.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>

#include "cli/message_output.h"
#include "cli/options.h"
#include "cli/serial_ports.h"
#include "cli/text.h"
#include "cli/traffic.h"
#include "tests/sms/messaging_test_util.h"
#include "tests/support/modem_sim.h"

namespace vestrel::cli {
namespace {

using test::W;

Options Parse(std::vector<std::string> args) {
  return ParseCommandLine(args);
}

TEST(CliOptions, CommandsAndOptionsInAnyOrder) {
  Options o = Parse({"--port", "/dev/ttyUSB0", "send", "79161234567", "Привет", "--log=x.log"});
  EXPECT_EQ(o.command, Command::Send);
  EXPECT_EQ(o.port, "/dev/ttyUSB0");
  EXPECT_EQ(o.log_file, "x.log");
  EXPECT_EQ(o.number, "79161234567");
  EXPECT_EQ(o.text, "Привет");

  o = Parse({"send", "79161234567"});
  EXPECT_FALSE(o.text.has_value());  // from standard input

  o = Parse({"read", "--json", "--timeout", "5"});
  EXPECT_EQ(o.command, Command::Read);
  EXPECT_TRUE(o.json);
  EXPECT_EQ(o.timeout_seconds, 5u);
  EXPECT_EQ(Parse({"read"}).timeout_seconds, 60u);
  // The window's durations unless a test build is told otherwise.
  EXPECT_EQ(o.durations.modem_wait_ms, 1000u);
  EXPECT_EQ(o.durations.pump_pause_ms, 20000u);

  // A text that begins with a dash, after "--".
  o = Parse({"send", "--", "79161234567", "-5 градусов"});
  EXPECT_EQ(o.text, "-5 градусов");
  EXPECT_FALSE(o.separate);
  EXPECT_TRUE(Parse({"send", "79161234567", "x", "--separate"}).separate);

  EXPECT_EQ(Parse({"ports"}).command, Command::Ports);
  EXPECT_EQ(Parse({"read", "--help"}).command, Command::Help);
  EXPECT_EQ(Parse({"--version"}).command, Command::Version);
}

TEST(CliOptions, WrongCommandLinesAreUsageErrors) {
  const std::vector<std::vector<std::string>> wrong = {
      {},
      {"frobnicate"},
      {"send"},
      {"send", "79161234567", "two", "texts"},
      {"read", "extra"},
      {"ports", "extra"},
      {"send", "79161234567", "x", "--json"},
      {"send", "79161234567", "x", "--timeout", "5"},
      {"read", "--timeout", "0"},
      {"read", "--timeout", "5s"},
      {"read", "--timeout", "-1"},
      {"read", "--timeout"},
      {"read", "--port"},
      {"read", "--port="},
      {"read", "--bogus"},
      {"read", "--testing-durations=1"},
      {"read", "--testing-durations=a,b"},
      {"archive", "extra"},
      {"archive", "--json", "--csv"},
      {"archive", "--since", "yesterday"},
      {"read", "--csv"},
      {"send", "79161234567", "x", "--match", "a"},
      {"ports", "--no-archive"},
      {"archive", "--no-archive"},
      {"read", "--separate"},
  };
  for (const auto& args : wrong) {
    std::string joined;
    for (const auto& a : args) joined += a + " ";
    EXPECT_THROW(Parse(args), UsageError) << joined;
  }
}

TEST(CliOptions, TestingDurationsOnlyInTheTestingBuild) {
  // This test links the testing build's option; the installed program's is
  // checked end to end (CliE2e.InstalledProgramKnowsNoTestingOption).
  const Options o = Parse({"read", "--testing-durations=50,200"});
  EXPECT_EQ(o.durations.modem_wait_ms, 50u);
  EXPECT_EQ(o.durations.pump_pause_ms, 200u);
}

TEST(CliText, Utf8BecomesTheWindowsText) {
  EXPECT_EQ(SmsTextFromUtf8("Привет, Ёлка ё!"), W("Привет, Ёлка ё!"));
  // Line breaks as the window's text field gives them: CR LF.
  EXPECT_EQ(SmsTextFromUtf8("a\nb\r\nc\n"), "a\r\nb\r\nc\r\n");
  EXPECT_EQ(SmsTextFromUtf8("№ €"), W("№ €"));
  EXPECT_EQ(SmsTextFromUtf8(""), "");
}

TEST(CliText, InvalidOrUnsendableTextIsRefused) {
  const std::vector<std::string> refused = {
      "\xFF",              // never in UTF-8
      "abc\xD0",           // cut before its continuation byte
      "\xD0\x41",          // continuation byte missing
      "\xC0\xAF",          // overlong "/"
      "\xE0\x80\xAF",      // overlong "/"
      "\xED\xA0\x80",      // a surrogate
      "\xF4\x90\x80\x80",  // above U+10FFFF
      "\x80",              // a lone continuation byte
      "日本",              // valid, but not in Windows-1251
      "😀",                 // valid, but not in Windows-1251
  };
  for (const auto& text : refused) EXPECT_THROW(SmsTextFromUtf8(text), UsageError) << text;
}

// A concatenated send takes any script; line breaks become LF, and the
// window's text of it has "?" for what Windows-1251 lacks.
TEST(CliText, Utf8OfAnyScriptForAConcatenatedSend) {
  struct Case {
    std::string utf8;
    std::u32string code_points;
    std::string cp1251;
  };
  const std::vector<Case> cases = {
      {"Привет 👋", U"Привет 👋", W("Привет ?")},
      {"a\r\nb\nc\r", U"a\nb\nc\r", "a\r\nb\r\nc\r"},
      {"日本 Zażółć", U"日本 Zażółć", "?? Za????"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SmsCodePointsFromUtf8(c.utf8), c.code_points) << c.utf8;
    EXPECT_EQ(Cp1251Approximation(c.code_points), c.cp1251) << c.utf8;
  }
  EXPECT_THROW(SmsCodePointsFromUtf8("ok \xD0\x9F\xFF"), UsageError);
}

TEST(CliText, FinalLineBreakOfStandardInput) {
  EXPECT_EQ(WithoutFinalLineBreak("text\n"), "text");
  EXPECT_EQ(WithoutFinalLineBreak("text\r\n"), "text");
  EXPECT_EQ(WithoutFinalLineBreak("two\n\n"), "two\n");
  EXPECT_EQ(WithoutFinalLineBreak("text\r"), "text\r");
  EXPECT_EQ(WithoutFinalLineBreak("\n"), "");
  EXPECT_EQ(WithoutFinalLineBreak(""), "");
}

TEST(CliOutput, LinesAreTheWindowsAndJsonParses) {
  FoundMessage found;
  found.message = {"+79161234567", "26/12/08,10:15:00", W("Текст \"в\" кавычках\\\r\nи\x01")};
  EXPECT_EQ(MessageOutputLine(found, false),
            "№ тел: +79161234567 Дата и время отправки: 26/12/08,10:15:00 Текст: "
            "Текст \"в\" кавычках\\\r\nи\x01");
  auto json = nlohmann::json::parse(MessageOutputLine(found, true));
  EXPECT_EQ(json["number"], "+79161234567");
  EXPECT_EQ(json["time"], "26/12/08,10:15:00");
  EXPECT_EQ(json["text"], "Текст \"в\" кавычках\\\r\nи\x01");
  EXPECT_FALSE(json.contains("index"));
  EXPECT_EQ(MessageOutputLine(found, true).find('\n'), std::string::npos);

  found.index = 7;
  json = nlohmann::json::parse(MessageOutputLine(found, true));
  EXPECT_EQ(json["index"], 7);
}

TEST(CliTraffic, ModemPaneKeepsTheWindowsTextAndLogsEachChange) {
  test::TempDir dir;
  const auto path = dir.path() / "log";
  std::FILE* file = std::fopen(path.c_str(), "w");
  {
    TrafficLog log(file);
    Progress progress(false);
    ModemPane modem(log, progress);
    CommandPane commands(log, progress);
    commands.AddLine("AT+CPMS=\"ME\"");
    modem.ChunkComing();
    modem.SetText(std::string("\r\nOK\r\n\x1A") + modem.Text());
    modem.SetText(modem.Text() + "\r\n" + W("У Вас 2 СМС"));
    modem.ChunkComing();
    modem.SetText("\r\n+CMGR: x\r\n" + modem.Text());
    EXPECT_EQ(modem.Text(), "\r\n+CMGR: x\r\n\r\nOK\r\n\x1A\r\n" + W("У Вас 2 СМС"));
    EXPECT_EQ(commands.Text(), "AT+CPMS=\"ME\"");
  }
  std::fclose(file);
  std::vector<std::string> kinds;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) kinds.push_back(line.substr(24));
  // Chunks are logged where they are read (the port), so the pane logs only
  // what the reading appends.
  EXPECT_EQ(kinds, (std::vector<std::string>{"> AT+CPMS=\"ME\"", "= У Вас 2 СМС"}));
}

TEST(CliPorts, ListsUartsAdaptersAndTheirStableNames) {
  test::TempDir root;
  const auto dev = root.path() / "dev";
  const auto sys = root.path() / "sys";
  std::filesystem::create_directories(dev / "serial" / "by-id");
  for (const char* name : {"ttyS0", "ttyS1", "ttyS2", "ttyS10", "ttyS3", "ttyUSB1", "ttyUSB0",
                           "ttyACM0", "ttySomething", "tty0", "ttyprintk"})
    std::ofstream(dev / name) << "";
  // The driver's report: 4 is a 16550A, 0 nothing behind the name.
  for (auto [name, type] : {std::pair{"ttyS0", "4"},
                            {"ttyS1", "0"},
                            {"ttyS2", "4"},
                            {"ttyS10", "4"},
                            {"ttySomething", "x"}}) {
    std::filesystem::create_directories(sys / name);
    std::ofstream(sys / name / "type") << type << "\n";
  }
  // ttyS3 has no report and is no serial device: TIOCGSERIAL fails.
  std::filesystem::create_symlink("../../ttyUSB0", dev / "serial" / "by-id" / "usb-Modem_123-if00");

  const auto found = ListSerialDevices(dev, sys);
  std::vector<std::string> lines;
  for (const auto& d : found)
    lines.push_back(
        std::filesystem::path(d.path).lexically_relative(root.path()).string() +
        (d.target.empty()
             ? ""
             : " -> " + std::filesystem::path(d.target).lexically_relative(root.path()).string()));
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "dev/ttyS0", "dev/ttyS2", "dev/ttyS10", "dev/ttyUSB0", "dev/ttyUSB1",
                       "dev/ttyACM0", "dev/serial/by-id/usb-Modem_123-if00 -> dev/ttyUSB0"}));
}

TEST(CliPorts, APseudoTerminalIsNoUart) {
  test::ModemSim sim;
  test::TempDir sys;
  EXPECT_FALSE(IsUart(sim.slave(), sys.path()));
  EXPECT_EQ(sim.Stop(), 0);
}

}  // namespace
}  // namespace vestrel::cli
