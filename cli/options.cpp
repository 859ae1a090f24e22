#include "cli/options.h"

#include <charconv>

#include "cli/archive_access.h"

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

std::optional<Command> CommandNamed(const std::string& word) {
  if (word == "send") return Command::Send;
  if (word == "read") return Command::Read;
  if (word == "archive") return Command::Archive;
  if (word == "ports") return Command::Ports;
  if (word == "watch") return Command::Watch;
  return std::nullopt;
}

// "help", "help COMMAND" and "COMMAND --help" name the command asked about.
Options HelpOn(Options options, const std::vector<std::string>& words) {
  options.command = Command::Help;
  const bool help_word = !words.empty() && words[0] == "help";
  if (help_word && words.size() > 2) throw UsageError("help takes one command");
  const std::size_t topic = help_word ? 1 : 0;
  if (words.size() <= topic) return options;
  options.help_on = CommandNamed(words[topic]);
  if (!options.help_on)
    throw UsageError("no help on \"" + words[topic] +
                     "\": the commands are send, read, watch, archive and ports");
  return options;
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

// Whole seconds from lowest to a day.
std::uint32_t ParseSeconds(std::string_view option, const std::string& text, std::uint32_t lowest) {
  std::uint32_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || text.empty() || value < lowest ||
      value > kMaxTimeoutSeconds)
    throw UsageError(std::string(option) + " wants a whole number of seconds from " +
                     std::to_string(lowest) + " to " + std::to_string(kMaxTimeoutSeconds) +
                     ", not \"" + text + "\"");
  return value;
}

std::int32_t ParseLimit(const std::string& text) {
  std::int32_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || text.empty() || value <= 0)
    throw UsageError("--limit wants a whole number of records from 1, not \"" + text + "\"");
  return value;
}

// A date option's value, checked as the archive reads it.
std::string DateValue(std::string_view option, const std::string& text) {
  if (!NormalizeSinceOption(text))
    throw UsageError(std::string(option) +
                     " wants a date as YYYY-MM-DD or YYYY-MM-DD HH:MM[:SS], not \"" + text + "\"");
  return text;
}

// A number as people write it, "+7 (916) 123-45-67": the digits alone.
std::string NumberValue(const std::string& text) {
  std::string digits;
  for (char c : text) {
    if (c == '+' || c == ' ' || c == '-' || c == '(' || c == ')') continue;
    if (c < '0' || c > '9') {
      digits.clear();
      break;
    }
    digits += c;
  }
  if (digits.empty())
    throw UsageError("--number wants a telephone number of digits, not \"" + text + "\"");
  return digits;
}

}  // namespace

Options ParseCommandLine(const std::vector<std::string>& args) {
  Options options;
  std::vector<std::string> words;
  bool help = false;
  bool version = false;
  bool timeout_given = false;
  bool reading_option = false;
  bool listing_option = false;
  bool options_ended = false;
  bool watch_option = false;
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
    } else if (arg == "--probe") {
      options.probe = true;
    } else if (arg == "--count") {
      options.count = true;
      listing_option = true;
    } else if (arg == "--yes") {
      options.yes = true;
    } else if (arg == "--separate") {
      options.separate = true;
    } else if (arg == "--report") {
      options.report = true;
    } else if (arg == "--notify") {
      options.notify = true;
      watch_option = true;
    } else if (auto exec = OptionValue(args, i, "--exec")) {
      if (exec->find_first_not_of(" \t") == std::string::npos)
        throw UsageError("--exec wants a command");
      options.exec = *exec;
      watch_option = true;
    } else if (auto exec_limit = OptionValue(args, i, "--exec-timeout")) {
      options.exec_timeout_seconds = ParseSeconds("--exec-timeout", *exec_limit, 1);
      watch_option = true;
    } else if (auto interval = OptionValue(args, i, "--interval")) {
      options.interval_seconds = ParseSeconds("--interval", *interval, 0);
      watch_option = true;
    } else if (arg == "--pdu") {
      options.reading.mode = ReadingMode::kPdu;
      reading_option = true;
    } else if (auto memory = OptionValue(args, i, "--memory")) {
      const auto parsed = ParseReadingMemory(*memory);
      if (!parsed) throw UsageError("--memory wants SM, ME or MT, not \"" + *memory + "\"");
      options.reading.memory = *parsed;
      reading_option = true;
    } else if (auto since = OptionValue(args, i, "--since")) {
      options.since = DateValue("--since", *since);
      listing_option = true;
    } else if (auto until = OptionValue(args, i, "--until")) {
      options.until = DateValue("--until", *until);
      listing_option = true;
    } else if (auto purge = OptionValue(args, i, "--purge-before")) {
      options.purge_before = DateValue("--purge-before", *purge);
    } else if (auto limit = OptionValue(args, i, "--limit")) {
      options.limit = ParseLimit(*limit);
      listing_option = true;
    } else if (auto number = OptionValue(args, i, "--number")) {
      options.number_filter = NumberValue(*number);
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
  if (help || (!words.empty() && words[0] == "help")) return HelpOn(std::move(options), words);
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
    // "-" stands for standard input, as TEXT left out does.
    if (words.size() == 3 && words[2] != "-") options.text = words[2];
  } else if (command == "read") {
    options.command = Command::Read;
    if (words.size() > 1) throw UsageError("read takes no arguments");
  } else if (command == "watch") {
    options.command = Command::Watch;
    if (words.size() > 1) throw UsageError("watch takes no arguments");
  } else if (command == "archive") {
    options.command = Command::Archive;
    if (words.size() > 1) throw UsageError("archive takes no arguments");
  } else if (command == "ports") {
    options.command = Command::Ports;
    if (words.size() > 1 && !options.probe)
      throw UsageError("ports takes port names only with --probe");
    options.probe_ports.assign(words.begin() + 1, words.end());
  } else {
    throw UsageError("unknown command \"" + command + "\"");
  }
  const bool archive = options.command == Command::Archive;
  const bool watch = options.command == Command::Watch;
  if (options.json && options.command != Command::Read && options.command != Command::Send &&
      !archive && !watch)
    throw UsageError("--json belongs to the read, send, watch and archive commands");
  if (watch_option && !watch)
    throw UsageError("--exec, --exec-timeout, --interval and --notify belong to the watch command");
  if (options.json && options.csv) throw UsageError("--json and --csv exclude each other");
  if ((options.csv || listing_option || options.listing != Listing::Received) && !archive)
    throw UsageError(
        "--csv, --sent, --raw, --since, --until, --match, --number, --limit and --count belong to "
        "the archive command");
  if (!options.purge_before.empty() && !archive)
    throw UsageError("--purge-before belongs to the archive command");
  if (!options.purge_before.empty() &&
      (listing_option || options.json || options.csv || options.listing != Listing::Received))
    throw UsageError("--purge-before removes; it takes no listing options");
  if (options.yes && options.purge_before.empty())
    throw UsageError("--yes belongs to --purge-before");
  if (options.count && (options.json || options.csv))
    throw UsageError("--count prints a number; it takes neither --json nor --csv");
  if (!options.number_filter.empty() && options.listing == Listing::Raw)
    throw UsageError("--number: the raw readings have no number");
  if (options.no_archive && options.command != Command::Read && options.command != Command::Send &&
      !watch)
    throw UsageError("--no-archive belongs to the send, read and watch commands");
  if (options.probe && options.command != Command::Ports)
    throw UsageError("--probe belongs to the ports command");
  if (options.separate && options.command != Command::Send)
    throw UsageError("--separate belongs to the send command");
  if (options.report && options.command != Command::Send)
    throw UsageError("--report belongs to the send command");
  if (timeout_given && options.command != Command::Read && !watch)
    throw UsageError("--timeout belongs to the read and watch commands");
  if (reading_option && options.command != Command::Read && !watch)
    throw UsageError("--pdu and --memory belong to the read and watch commands");
  return options;
}

}  // namespace vestrel::cli
