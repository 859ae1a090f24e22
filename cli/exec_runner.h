#pragma once
// watch --exec: the command run for each message, one at a time in arrival
// order, on a thread of its own so that a slow or hanging command never holds
// up the port. The running is per OS (exec_runner_posix.cpp; Windows has none).

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "messaging/answer_scanner.h"

namespace vestrel::cli {

using EnvironmentAdditions = std::vector<std::pair<std::string, std::string>>;

struct ExecJob {
  std::string input;                 // standard input: the message as one JSON object
  EnvironmentAdditions environment;  // VESTREL_*
  std::string what;                  // the message, as the log names it
};

// CMD as words, without a shell: blanks separate; '...' is taken as it is;
// "..." and the rest take \" \\ and \ before a blank as the character.
// Throws UsageError (an unclosed quote, nothing at all).
std::vector<std::string> SplitCommand(std::string_view command);

// What a message hands to the command on port.
ExecJob MessageJob(const FoundMessage& found, const std::string& port);

class ExecRunner {
 public:
  // note: one line for the log, from the runner's thread.
  using Note = std::function<void(const std::string&)>;

  // Throws std::runtime_error where commands cannot be run.
  ExecRunner(std::vector<std::string> argv, std::chrono::seconds limit, Note note);
  // Lets the command that runs end (or time out); the ones still queued are
  // not run, and noted.
  ~ExecRunner();
  ExecRunner(const ExecRunner&) = delete;
  ExecRunner& operator=(const ExecRunner&) = delete;

  void Add(ExecJob job);
  // Waits until every job added has run.
  void WaitIdle();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace vestrel::cli
