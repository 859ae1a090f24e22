// The parts of vestrel-sms that need no modem: its command line, the texts at
// its edges, its output lines and the list of serial devices.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>

#include "cli/command_help.h"
#include "cli/message_output.h"
#include "cli/number_forms.h"
#include "cli/options.h"
#include "cli/port_choice.h"
#include "cli/serial_ports.h"
#include "cli/stdin_text.h"
#include "cli/text.h"
#include "cli/traffic.h"
#include "comport/b_com_port.h"
#include "platform/cp1251.h"
#include "tests/messaging/sms/messaging_test_util.h"
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
  EXPECT_TRUE(Parse({"send", "79161234567", "x", "--json"}).json);

  o = Parse({"read", "--json", "--timeout", "5"});
  EXPECT_EQ(o.command, Command::Read);
  EXPECT_TRUE(o.json);
  EXPECT_EQ(o.timeout_seconds, 5u);
  EXPECT_EQ(Parse({"read"}).timeout_seconds, 60u);
  // The window's durations unless a test build is told otherwise.
  EXPECT_EQ(o.durations.modem_wait_ms, 1000u);
  EXPECT_EQ(o.durations.pump_pause_ms, 20000u);

  o = Parse({"watch", "--exec", "on-sms --x", "--interval=0", "--notify", "--json"});
  EXPECT_EQ(o.command, Command::Watch);
  EXPECT_EQ(o.exec, "on-sms --x");
  EXPECT_EQ(o.interval_seconds, 0u);
  EXPECT_TRUE(o.notify && o.json);
  EXPECT_EQ(Parse({"watch"}).interval_seconds, 60u);
  EXPECT_EQ(Parse({"watch"}).exec_timeout_seconds, 60u);

  // A text that begins with a dash, after "--".
  o = Parse({"send", "--", "79161234567", "-5 градусов"});
  EXPECT_EQ(o.text, "-5 градусов");
  EXPECT_FALSE(o.separate);
  EXPECT_TRUE(Parse({"send", "79161234567", "x", "--separate"}).separate);

  o = Parse({"archive", "--until=2026-12-08", "--number", "+7 (916) 123-45-67", "--limit", "10",
             "--count", "--sent", "--match", "ok"});
  EXPECT_EQ(o.until, "2026-12-08");
  EXPECT_EQ(o.number_filter, "79161234567");
  EXPECT_EQ(o.limit, 10);
  EXPECT_TRUE(o.count);
  o = Parse({"archive", "--purge-before", "2026-01-01", "--yes"});
  EXPECT_EQ(o.purge_before, "2026-01-01");
  EXPECT_TRUE(o.yes);

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
      {"ports", "--json"},
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
      {"help", "frobnicate"},
      {"help", "send", "read"},
      {"ports", "COM3"},
      {"read", "--probe"},
      {"archive", "--until", "soon"},
      {"watch", "extra"},
      {"read", "--report"},
      {"read", "--exec", "true"},
      {"send", "79161234567", "x", "--interval", "5"},
      {"watch", "--interval", "-1"},
      {"watch", "--exec-timeout", "0"},
      {"watch", "--exec", " "},
      {"archive", "--limit", "0"},
      {"archive", "--limit", "5x"},
      {"archive", "--number", "7916abc"},
      {"archive", "--number", "+ ()"},
      {"archive", "--raw", "--number", "79161234567"},
      {"archive", "--count", "--json"},
      {"archive", "--yes"},
      {"archive", "--purge-before", "2026-01-01", "--sent"},
      {"archive", "--purge-before", "someday", "--yes"},
      {"read", "--purge-before", "2026-01-01"},
      {"read", "--count"},
      {"read", "--separate"},
  };
  for (const auto& args : wrong) {
    std::string joined;
    for (const auto& a : args) joined += a + " ";
    EXPECT_THROW(Parse(args), UsageError) << joined;
  }
}

TEST(CliOptions, HelpOnACommandAndPortsToProbe) {
  EXPECT_EQ(Parse({"help", "send"}).help_on, Command::Send);
  EXPECT_EQ(Parse({"archive", "--help"}).help_on, Command::Archive);
  EXPECT_EQ(Parse({"send", "79161234567", "-h"}).help_on, Command::Send);
  EXPECT_FALSE(Parse({"help"}).help_on.has_value());
  EXPECT_FALSE(Parse({"--help"}).help_on.has_value());
  EXPECT_FALSE(Parse({"send", "79161234567", "-"}).text.has_value());  // "-": standard input
  const Options o = Parse({"ports", "--probe", "COM3", "/dev/ttyUSB0"});
  EXPECT_TRUE(o.probe);
  EXPECT_EQ(o.probe_ports, (std::vector<std::string>{"COM3", "/dev/ttyUSB0"}));
}

// Each command's help names its own options and examples, none of another
// command's, and is not the whole program's help.
TEST(CliHelp, EachCommandHasItsOwn) {
  const struct {
    Command command;
    std::vector<std::string> named, not_named;
  } rows[] = {
      {Command::Send,
       {"send NUMBER [TEXT]", "--port", "--no-archive", "--log", "TEXT \"-\"", "VESTREL_PORT",
        "--report"},
       {"--timeout", "--csv", "--probe", "--json"}},
      {Command::Read,
       {"read", "--port", "--json", "--timeout", "--no-archive", "--log", "VESTREL_PORT"},
       {"--csv", "--probe", "--since"}},
      {Command::Archive,
       {"--sent", "--raw", "--csv", "--json", "--since", "--match"},
       {"--timeout", "--probe", "--port"}},
      {Command::Ports, {"ports --probe [PORT...]", "--probe", "AT+CGMM"}, {"--json", "--timeout"}},
      {Command::Watch,
       {"watch", "--exec CMD", "--exec-timeout", "--interval", "--notify", "VESTREL_TEXT",
        "SIGHUP"},
       {"--csv", "--probe", "--since"}},
  };
  const std::string whole = HelpText();
  for (const auto& row : rows) {
    const std::string help = CommandHelpText(row.command);
    EXPECT_NE(help, whole);
    EXPECT_NE(help.find("Examples:\n  vestrel-sms "), std::string::npos) << help;
    for (const auto& name : row.named) EXPECT_NE(help.find(name), std::string::npos) << name;
    for (const auto& name : row.not_named) EXPECT_EQ(help.find(name), std::string::npos) << name;
    EXPECT_EQ(help.find("{ini:"), std::string::npos) << help;
  }
  EXPECT_NE(whole.find("help COMMAND"), std::string::npos);
  // Pelmora.ini's names come from the table the program reads them by.
  EXPECT_EQ(whole.find("{ini:"), std::string::npos);
  for (const char* name : {"\"COM Порт\" key", "beside this program, else COM11", "[MODEM]"})
    EXPECT_NE(whole.find(name), std::string::npos) << name;
}

// Without --port the first place that names a port wins: VESTREL_PORT, the
// user's vestrel-sms.ini (UTF-8), Pelmora.ini (Windows-1251), COM11.
TEST(CliPortChoice, FirstPlaceThatNamesAPortWins) {
  test::TempDir dir;
  const auto user = dir.path() / "vestrel-sms.ini";
  const auto program = dir.path() / "Pelmora.ini";
  const std::string user_port = "[MODEM]\nCOM Порт=/dev/ttyUSB1\nАрхив=a.sqlite\n";
  const std::string user_archive_only = "[MODEM]\nАрхив=a.sqlite\n";
  const std::string user_empty_port = "[MODEM]\nCOM Порт=\n";
  const std::string program_port = platform::Cp1251FromUtf8("[MODEM]\r\nCOM Порт=COM3\r\n");
  const std::optional<std::string> none;
  const struct {
    std::optional<std::string> command_line, environment;
    std::string user_file, program_ini;  // empty: no such file
    std::string port;
    PortSource source;
  } rows[] = {
      {"COM5", "COM6", user_port, program_port, "COM5", PortSource::kCommandLine},
      {none, "/dev/ttyACM0", user_port, program_port, "/dev/ttyACM0", PortSource::kEnvironment},
      {none, "", user_port, program_port, "/dev/ttyUSB1", PortSource::kUserFile},
      {none, none, user_port, program_port, "/dev/ttyUSB1", PortSource::kUserFile},
      {none, none, user_archive_only, program_port, "COM3", PortSource::kProgramIni},
      {none, none, user_empty_port, program_port, "COM3", PortSource::kProgramIni},
      {none, none, "", program_port, "COM3", PortSource::kProgramIni},
      {none, none, user_archive_only, "", "COM11", PortSource::kDefault},
      {none, none, "", "[MODEM]\r\n", "COM11", PortSource::kDefault},
  };
  for (const auto& row : rows) {
    std::filesystem::remove(user);
    std::filesystem::remove(program);
    if (!row.user_file.empty()) std::ofstream(user, std::ios::binary) << row.user_file;
    if (!row.program_ini.empty()) std::ofstream(program, std::ios::binary) << row.program_ini;
    const PortChoice choice = ChoosePort({row.command_line, row.environment, user, program});
    EXPECT_EQ(choice.shown, row.port) << row.user_file << row.program_ini;
    EXPECT_EQ(choice.source, row.source) << row.port;
    const auto file = row.source == PortSource::kUserFile     ? user
                      : row.source == PortSource::kProgramIni ? program
                                                              : std::filesystem::path();
    EXPECT_EQ(choice.file, file) << row.port;
  }
}

// A port that did not open: the window's message first, then what to do.
TEST(CliPortChoice, OpenFailuresPointToTheFix) {
  const PortChoice from_ini{"COM3", "COM3", PortSource::kProgramIni, "/opt/vestrel/Pelmora.ini"};
  const PortChoice by_default{"COM11", "COM11", PortSource::kDefault, {}};
  const PortChoice from_variable{"COM4", "COM4", PortSource::kEnvironment, {}};
  const struct {
    PortChoice choice;
    std::string message;
    std::vector<std::string> said;
  } rows[] = {
      {by_default,
       comport_messages::NoSuchPort(),
       {"COM11: Попытка открыть несуществующий COM-порт.\n", "COM11 is the default", "--port NAME",
        "VESTREL_PORT", "ports --probe"}},
      {from_ini,
       comport_messages::NoSuchPort(),
       {"COM3 is from the key \"COM Порт\" of section [MODEM] in /opt/vestrel/Pelmora.ini"}},
      {from_variable, comport_messages::NoSuchPort(), {"COM4 is from the variable VESTREL_PORT"}},
      {from_ini,
       comport_messages::NoAccess(),
       {"COM3: Нет прав доступа к COM-порту.\n", "group dialout", "sudo usermod -aG dialout $USER",
        "log out and in again"}},
      {from_ini, comport_messages::PortBusy(), {"COM3: Порт занят другой программой."}},
  };
  for (const auto& row : rows) {
    const std::string text = PortOpenFailure(row.choice, row.message);
    for (const auto& part : row.said) EXPECT_NE(text.find(part), std::string::npos) << text;
  }
  EXPECT_EQ(PortOpenFailure(from_ini, comport_messages::PortBusy()),
            "COM3: Порт занят другой программой.");
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

// What is dropped before the window's check, and what is left for it to refuse.
TEST(CliText, NumberFormsPeopleWrite) {
  const std::vector<std::pair<std::string, std::string>> rows = {
      {"+7 (916) 123-45-67", "79161234567"},
      {"+79161234567", "79161234567"},
      {" +44 7700 900123", "447700900123"},
      {"8-916-123-45-67", "89161234567"},
      {"7(916)1234567", "79161234567"},
      {"79161234567", "79161234567"},
      {"7916+1234567", "7916+1234567"},  // "+" only in front
      {"++79161234567", "++79161234567"},
      {"(+7) 916", "(+7) 916"},
      {"7 (916 123", "7 (916 123"},  // brackets in pairs, one pair, not empty
      {"7 916) 123", "7 916) 123"},
      {"7 (916) (123)", "7 (916) (123)"},
      {"7 () 916", "7 () 916"},
      {"7.916.123", "7.916.123"},
      {"+7 916 12a", "+7 916 12a"},
      {"+ -", "+ -"},
      {"", ""},
  };
  for (const auto& [typed, kept] : rows) EXPECT_EQ(WithoutNumberForms(typed), kept) << typed;
}

TEST(CliText, StandardInputInUtf8OrMarkedUtf16) {
  const auto bytes = [](std::initializer_list<int> list) {
    std::string s;
    for (int b : list) s += static_cast<char>(b);
    return s;
  };
  const std::vector<std::pair<std::string, std::string>> rows = {
      {"Привет", "Привет"},
      {"\xEF\xBB\xBF"
       "Привет\n",
       "Привет\n"},
      // "К" is 04 1A: its 1A is Ctrl-Z, and CR LF comes as units of their own.
      {bytes({0xFF, 0xFE, 0x1A, 0x04, 'a', 0, '\r', 0, '\n', 0}), "Кa\r\n"},
      {bytes({0xFE, 0xFF, 0x04, 0x1A, 0, 'a'}), "Кa"},
      {bytes({0xFF, 0xFE, 0x3D, 0xD8, 0x00, 0xDE}), "😀"},  // refused later as unsendable
      {bytes({0xFF, 0xFE}), ""},
  };
  for (const auto& [in, utf8] : rows) EXPECT_EQ(StandardInputUtf8(in), utf8);
  for (const std::string& bad : {bytes({0xFF, 0xFE, 0x3D, 0xD8}),          // half a pair
                                 bytes({0xFF, 0xFE, 0x00, 0xDE, 'a', 0}),  // a lone low half
                                 bytes({0xFE, 0xFF, 0x04})})               // an odd byte
    EXPECT_THROW(StandardInputUtf8(bad), UsageError);
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
  found.message = {"+79161234567", "26/12/08,10:15:00", "2026-12-08T10:15:00+03:00",
                   W("Текст \"в\" кавычках\\\r\nи\x01")};
  EXPECT_EQ(MessageOutputLine(found, false),
            "№ тел: +79161234567 Дата и время отправки: 26/12/08,10:15:00 Текст: "
            "Текст \"в\" кавычках\\\r\nи\x01");
  auto json = nlohmann::json::parse(MessageOutputLine(found, true));
  EXPECT_EQ(json["number"], "+79161234567");
  EXPECT_EQ(json["time"], "26/12/08,10:15:00");
  EXPECT_EQ(json["sent_at"], "2026-12-08T10:15:00+03:00");
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
