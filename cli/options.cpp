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
    } else if (arg == "--separate") {
      options.separate = true;
    } else if (auto since = OptionValue(args, i, "--since")) {
      const auto normalized = NormalizeSinceOption(*since);
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
  if (options.separate && options.command != Command::Send)
    throw UsageError("--separate belongs to the send command");
  if (timeout_given && options.command != Command::Read)
    throw UsageError("--timeout belongs to the read command");
  return options;
}

}  // namespace vestrel::cli
