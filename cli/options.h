#pragma once
// The command line of vestrel-sms.

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "messaging/messaging_io.h"
#include "messaging/reading_config.h"

namespace vestrel::cli {

// Exit codes, as --help and the README list them.
enum ExitCode : int {
  kExitDone = 0,
  kExitUsage = 2,
  kExitPortOpen = 3,
  kExitPortIo = 4,
  kExitNumberRefused = 5,
  kExitTimeout = 6,
  kExitArchive = 7,
  kExitNotSent = 8,
  kExitInterrupted = 130,
};

enum class Command { Help, Version, Send, Read, Ports, Archive, Watch };

// What the archive command lists.
enum class Listing { Received, Sent, Raw };

struct Options {
  Command command = Command::Help;
  std::optional<std::string> port;      // --port: a name as in Pelmora.ini
  std::optional<std::string> log_file;  // --log
  bool json = false;                    // read, send, archive --json
  std::uint32_t timeout_seconds = 60;   // read --timeout
  ReadingConfig reading;                // read --pdu, --memory
  std::string number;                   // send NUMBER, as typed
  std::optional<std::string> text;      // send TEXT (UTF-8); none: standard input
  bool no_archive = false;              // send, read: keep nothing in the archive
  bool separate = false;                // send --separate: the window's described parts
  bool report = false;                  // send --report: ask for a status report (TP-SRR)
  Listing listing = Listing::Received;  // archive: --sent, --raw
  bool csv = false;                     // archive --csv
  std::string since;                    // archive --since, as given (checked)
  std::string match;                    // archive --match (UTF-8)
  std::string until;                    // archive --until, as given (checked)
  std::string number_filter;            // archive --number, digits only
  std::int32_t limit = 0;               // archive --limit (0: all)
  bool count = false;                   // archive --count
  std::string purge_before;             // archive --purge-before, as given (checked)
  bool yes = false;                     // archive --purge-before ... --yes
  MessagingDurations durations;
  // help COMMAND, COMMAND --help: the command whose help is asked for; none:
  // the whole program's.
  std::optional<Command> help_on;
  // ports --probe [PORT...]: ask each port whether a modem answers; no ports
  // named: every port the list shows.
  bool probe = false;
  std::vector<std::string> probe_ports;
  // watch: the command run for each message (split into words, no shell),
  // its time limit, the seconds between readings (0: only on announcements),
  // and whether the modem is asked to announce new messages (AT+CNMI).
  std::optional<std::string> exec;
  std::uint32_t exec_timeout_seconds = 60;
  std::uint32_t interval_seconds = 60;
  bool notify = false;
};

// A command line that cannot be carried out; the message is UTF-8.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The arguments after the program name. Throws UsageError.
Options ParseCommandLine(const std::vector<std::string>& args);

std::string HelpText();

// The build's own options for shorter dialogue durations. The installed
// program knows none and always waits as long as the window does; the build
// the tests run accepts "--testing-durations=WAIT_MS,PAUSE_MS". True when the
// argument was such an option (durations set); throws UsageError when it was
// one but malformed.
bool ParseTestingOption(std::string_view arg, MessagingDurations& durations);

}  // namespace vestrel::cli
