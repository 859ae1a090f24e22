#include "cli/command_help.h"

#include "cli/help_text.h"

namespace vestrel::cli {
namespace {

constexpr char kLogOption[] =
    R"(  --log FILE          append the traffic to FILE with time stamps: first the
                      version, the port and the command line ("#"), then
                      commands (">"), bytes received ("<") and the lines of
                      the reading ("=")
)";
constexpr char kHelpOption[] = "  --help              show this help\n";

std::string SendHelp(const ArchiveHelp& archive) {
  std::string text = R"(Usage: vestrel-sms [OPTIONS] send NUMBER [TEXT]

Sends TEXT to NUMBER (digits with the country code, no "+"). Without TEXT, or
with TEXT "-", the text is read from standard input (UTF-8, one final line
break dropped). Texts longer than 70 characters go out as several SMS, about
20 seconds apart.

Options:
)";
  text += PortOptionHelp();
  text += R"(  --report            ask the service centre for a status report of each
                      part; a watch on the port keeps what it reports
)";
  text += archive.no_archive;
  text += kLogOption;
  text += kHelpOption;
  text += SettingsHelp();
  text += R"(
Examples:
  vestrel-sms send 79161234567 "Привет"
  date | vestrel-sms send 79161234567 -
)";
  text += "  vestrel-sms --port " + std::string(PortExample()) +
          " send 79161234567 \"Проверка\" --log send.log\n";
  return text;
}

std::string ReadHelp(const ArchiveHelp& archive) {
  std::string text = R"(Usage: vestrel-sms [OPTIONS] read

Reads every message stored in the phone's memory "ME" (or the one --memory
names), deleting each from the phone, and prints one line per message:
"№ тел: … Дата и время отправки: … Текст: …"
With --pdu the parts of a long message are printed joined as one; a message
whose parts have not all come yet is printed with "[неполное СМС: пришло
частей K из N]" and completed in the archive when a later reading brings the
rest (with --no-archive its parts are left on the phone until then).

Options:
)";
  text += PortOptionHelp();
  text += R"(  --json              one JSON object per message (number, time, text, and
                      index when known) instead of the text line
  --timeout SECONDS   give up when the modem has sent nothing for this long
                      (default 60)
  --pdu               read in PDU mode (AT+CMGF=0): any alphabet, alphanumeric
                      senders, long messages joined; with --json also
                      "parts", "parts_present" and "complete" for a long one
  --memory SM|ME|MT   the memory to count and read: SM the SIM card, ME the
                      phone (default), MT both
)";
  text += archive.no_archive;
  text += kLogOption;
  text += kHelpOption;
  text += SettingsHelp();
  text += R"(
Examples:
  vestrel-sms read
  vestrel-sms read --json >> inbox.jsonl
  vestrel-sms read --pdu --memory SM
  vestrel-sms read --timeout 120 --log read.log
)";
  return text;
}

std::string WatchHelp(const ArchiveHelp& archive) {
  std::string text =
      R"(Usage: vestrel-sms [OPTIONS] watch [--exec CMD] [--interval SECONDS] [--notify]

Holds the port until stopped and reads the phone's memory as read does
(each message kept in the archive, then printed, then deleted from the phone):
at start, whenever the modem announces a message ("+CMTI:") and every
--interval seconds. Each message is then handed to CMD. While it watches,
"vestrel-sms send" on the same port hands its SMS to it and prints the result.
A modem that hangs up or goes away is reopened (after 1, 2, 4 ... 30 s).
SIGTERM ends it at the next command with exit code 0; SIGHUP reopens the
--log file.

Options:
)";
  text += PortOptionHelp();
  text += R"(  --json              one JSON object per message instead of the text line
  --exec CMD          run CMD for each message, one at a time in arrival
                      order: CMD is split into words (quotes as in a shell,
                      no shell: write sh -c '...' for one), gets the message
                      as one JSON object on its standard input and
                      VESTREL_NUMBER, VESTREL_TEXT, VESTREL_SENT_AT and
                      VESTREL_PORT in its environment; its exit status and
                      standard error are logged
  --exec-timeout SECONDS
                      end CMD when it runs longer (default 60)
  --interval SECONDS  read this often without an announcement (default 60;
                      0: only when the modem announces a message)
  --pdu               read in PDU mode, as read --pdu does (long messages
                      joined, each handed to CMD once joined)
  --memory SM|ME|MT   the memory to count and read (default ME)
  --notify            ask the modem to announce new messages and route status
                      reports (AT+CNMI=2,1,0,1,0);
                      for modems that do not announce them on their own
  --timeout SECONDS   give up a reading when the modem has sent nothing for
                      this long (default 60)
)";
  text += archive.no_archive;
  text += kLogOption;
  text += kHelpOption;
  text += SettingsHelp();
  text += R"(
Examples:
  vestrel-sms watch --json >> inbox.jsonl
  vestrel-sms watch --notify --exec 'sh -c "mail -s SMS root"'
  vestrel-sms watch --interval 0 --exec /usr/local/bin/on-sms --log watch.log
)";
  return text;
}

std::string ArchiveCommandHelp(const ArchiveHelp& archive) {
  std::string text = R"(Usage: vestrel-sms archive [--sent | --raw] [--json | --csv] [--since DATE]
                           [--match TEXT]

)";
  text += archive.command;
  if (archive.options.empty()) return text;
  text += "\nOptions:\n";
  text += "  --json              one JSON object per record\n";
  text += archive.options;
  text += kHelpOption;
  text += R"(
Examples:
  vestrel-sms archive --since 2026-12-01
  vestrel-sms archive --sent --csv > sent.csv
  vestrel-sms archive --match Иванов --json
)";
  text += archive.location;
  return text;
}

std::string PortsHelp() {
  std::string text = R"(Usage: vestrel-sms ports
       vestrel-sms ports --probe [PORT...]

)";
  text += PortsCommandHelp();
  text += R"(
Options:
  --probe             ask each port listed (or each PORT, named as --port
                      takes it) that no other program holds: "AT", and only
                      after an OK "ATI", "AT+CGMI" and "AT+CGMM", each waiting
                      a second at most; shows which ports answer and what they
                      say. A busy port is left alone. Exit code 0 when a modem
                      answered, else 3
)";
  text += kHelpOption;
  text += R"(
Examples:
  vestrel-sms ports
  vestrel-sms ports --probe
)";
  text += "  vestrel-sms ports --probe " + std::string(PortExample()) + "\n";
  return text;
}

}  // namespace

std::string SettingsHelp() {
  std::string text = R"(
Settings, without --port:
  VESTREL_PORT        the modem's port
  )";
  text += UserConfigHelp();
  text += R"(
                      the user's own settings (UTF-8): section [{ini:section}], keys
                      "{ini:port}" (the port) and "{ini:archive}" (the archive file)
  {ini:file}         beside this program: the window's settings, used last
)";
  return text;
}

namespace {

std::string CommandHelpWithPlaceholders(Command command) {
  const ArchiveHelp archive = ArchiveHelpText();
  switch (command) {
    case Command::Send:
      return SendHelp(archive);
    case Command::Read:
      return ReadHelp(archive);
    case Command::Watch:
      return WatchHelp(archive);
    case Command::Archive:
      return ArchiveCommandHelp(archive);
    case Command::Ports:
      return PortsHelp();
    case Command::Help:
    case Command::Version:
      break;
  }
  return HelpText();
}

}  // namespace

std::string CommandHelpText(Command command) {
  return WithIniNames(CommandHelpWithPlaceholders(command));
}

}  // namespace vestrel::cli
