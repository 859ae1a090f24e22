#include "cli/options.h"

#include <charconv>

#include "archive/archive.h"

namespace vestrel::cli {
namespace {

constexpr std::uint32_t kMaxTimeoutSeconds = 24 * 60 * 60;

// "--name VALUE" or "--name=VALUE"; advances i past what it took.
std::optional<std::string> OptionValue(const std::vector<std::string>& args, std::size_t& i,
                                       std::string_view name) {
  const std::string& arg = args[i];
  if (arg == name) {
    if (i + 1 >= args.size()) throw UsageError(std::string(name) + " wants a value");
    return args[++i];
  }
  if (arg.size() > name.size() && arg.compare(0, name.size(), name) == 0 && arg[name.size()] == '=')
    return arg.substr(name.size() + 1);
  return std::nullopt;
}

std::uint32_t ParseTimeout(const std::string& text) {
  std::uint32_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || text.empty() || value == 0 ||
      value > kMaxTimeoutSeconds)
    throw UsageError("--timeout wants a whole number of seconds from 1 to " +
                     std::to_string(kMaxTimeoutSeconds) + ", not \"" + text + "\"");
  return value;
}

}  // namespace

Options ParseCommandLine(const std::vector<std::string>& args) {
  Options options;
  std::vector<std::string> words;
  bool help = false;
  bool version = false;
  bool timeout_given = false;
  bool listing_option = false;
  bool options_ended = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (options_ended || arg.empty() || arg[0] != '-' || arg == "-") {
      words.push_back(arg);
      continue;
    }
    if (arg == "--") {
      options_ended = true;
    } else if (arg == "--help" || arg == "-h") {
      help = true;
    } else if (arg == "--version") {
      version = true;
    } else if (arg == "--json") {
      options.json = true;
    } else if (arg == "--csv") {
      options.csv = true;
    } else if (arg == "--sent") {
      options.listing = Listing::Sent;
    } else if (arg == "--raw") {
      options.listing = Listing::Raw;
    } else if (arg == "--no-archive") {
      options.no_archive = true;
    } else if (auto since = OptionValue(args, i, "--since")) {
      const auto normalized = archive::NormalizeSince(*since);
      if (!normalized)
        throw UsageError("--since wants a date as YYYY-MM-DD or YYYY-MM-DD HH:MM[:SS], not \"" +
                         *since + "\"");
      options.since = *since;
      listing_option = true;
    } else if (auto match = OptionValue(args, i, "--match")) {
      options.match = *match;
      listing_option = true;
    } else if (auto port = OptionValue(args, i, "--port")) {
      if (port->empty()) throw UsageError("--port wants a port name");
      options.port = *port;
    } else if (auto log = OptionValue(args, i, "--log")) {
      if (log->empty()) throw UsageError("--log wants a file name");
      options.log_file = *log;
    } else if (auto timeout = OptionValue(args, i, "--timeout")) {
      options.timeout_seconds = ParseTimeout(*timeout);
      timeout_given = true;
    } else if (!ParseTestingOption(arg, options.durations)) {
      throw UsageError("unknown option \"" + arg + "\"");
    }
  }
  if (help) {
    options.command = Command::Help;
    return options;
  }
  if (version) {
    options.command = Command::Version;
    return options;
  }
  if (words.empty()) throw UsageError("no command given");
  const std::string& command = words[0];
  if (command == "send") {
    options.command = Command::Send;
    if (words.size() < 2) throw UsageError("send wants the recipient's number");
    if (words.size() > 3)
      throw UsageError("send takes one text; put a text of several words in quotes");
    options.number = words[1];
    if (words.size() == 3) options.text = words[2];
  } else if (command == "read") {
    options.command = Command::Read;
    if (words.size() > 1) throw UsageError("read takes no arguments");
  } else if (command == "archive") {
    options.command = Command::Archive;
    if (words.size() > 1) throw UsageError("archive takes no arguments");
  } else if (command == "ports") {
    options.command = Command::Ports;
    if (words.size() > 1) throw UsageError("ports takes no arguments");
  } else {
    throw UsageError("unknown command \"" + command + "\"");
  }
  const bool archive = options.command == Command::Archive;
  if (options.json && options.command != Command::Read && !archive)
    throw UsageError("--json belongs to the read and archive commands");
  if (options.json && options.csv) throw UsageError("--json and --csv exclude each other");
  if ((options.csv || listing_option || options.listing != Listing::Received) && !archive)
    throw UsageError("--csv, --sent, --raw, --since and --match belong to the archive command");
  if (options.no_archive && options.command != Command::Read && options.command != Command::Send)
    throw UsageError("--no-archive belongs to the send and read commands");
  if (timeout_given && options.command != Command::Read)
    throw UsageError("--timeout belongs to the read command");
  return options;
}

std::string HelpText() {
  return R"(Usage: vestrel-sms [OPTIONS] COMMAND

Sends and reads SMS through a GSM modem on a serial port, with the same
dialogues as the Vestrel window.

Commands:
  send NUMBER [TEXT]  send TEXT to NUMBER (digits with the country code, no
                      "+"); without TEXT the text is read from standard input
                      (UTF-8, one final line break dropped). Texts longer than
                      70 characters go out as several SMS, about 20 seconds
                      apart.
  read                read every message stored in the phone's memory "ME",
                      deleting each from the phone, and print one line per
                      message: "№ тел: … Дата и время отправки: … Текст: …"
  ports               list the serial devices present: UARTs /dev/ttyS*,
                      /dev/ttyUSB*, /dev/ttyACM*, and /dev/serial/by-id/* with
                      the device each one names
  archive             list what the message archive holds, newest first:
                      the messages read (default), --sent the messages sent
                      with their parts, or --raw the bytes received during
                      readings

Options:
  --port NAME         the modem's port: COMn (/dev/ttyS(n-1)), a path such as
                      /dev/ttyUSB0, or a name under /dev/. Default: the
                      "COM Порт" key of section MODEM in Pelmora.ini beside
                      this program, else COM11
  --json              read: one JSON object per message (number, time, text,
                      and index when known) instead of the text line;
                      archive: one JSON object per record
  --csv               archive: CSV (UTF-8 with BOM) with a header line
  --since DATE        archive: only records from DATE on (UTC), as
                      YYYY-MM-DD or YYYY-MM-DD HH:MM[:SS]
  --match TEXT        archive: only records whose number or text holds TEXT,
                      in any letter case
  --no-archive        send, read: keep nothing in the archive
  --timeout SECONDS   read: give up when the modem has sent nothing for this
                      long (default 60)
  --log FILE          append the traffic to FILE with time stamps: commands
                      (">"), bytes received ("<") and the lines of the reading
                      ("=")
  --help              show this help
  --version           show the program's version

Progress goes to standard error when it is a terminal; otherwise standard
error holds only errors. Ctrl-C ends a send after the SMS being written and a
reading before its next command.

Exit codes:
  0    done
  2    wrong command line or unusable text (empty, not UTF-8, characters an
       SMS of this program cannot carry)
  3    the port could not be opened
  4    a write or read error on the port (the modem hung up), or an answer
       that could not be read
  5    the number was refused
  6    time-out waiting for the modem
  7    the archive could not be used (the messages were still read, printed
       and sent as usual)
  130  interrupted (Ctrl-C)

Every message read and sent is kept in the message archive,
$XDG_DATA_HOME/vestrel/archive.sqlite (else ~/.local/share/vestrel/), or the
file that the "Архив" key of section MODEM in Pelmora.ini names.
)";
}

}  // namespace vestrel::cli
