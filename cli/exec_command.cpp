#include "cli/exec_runner.h"
#include "cli/message_output.h"
#include "cli/options.h"
#include "platform/cp1251.h"

namespace vestrel::cli {

std::vector<std::string> SplitCommand(std::string_view command) {
  std::vector<std::string> words;
  std::string word;
  bool in_word = false;
  for (std::size_t i = 0; i < command.size(); ++i) {
    const char c = command[i];
    if (c == ' ' || c == '\t' || c == '\n') {
      if (in_word) words.push_back(std::move(word));
      word.clear();
      in_word = false;
      continue;
    }
    in_word = true;
    if (c == '\'') {
      const std::size_t end = command.find('\'', i + 1);
      if (end == std::string_view::npos) throw UsageError("--exec: a ' is not closed");
      word += command.substr(i + 1, end - i - 1);
      i = end;
    } else if (c == '"') {
      for (++i;; ++i) {
        if (i >= command.size()) throw UsageError("--exec: a \" is not closed");
        if (command[i] == '"') break;
        if (command[i] == '\\' && i + 1 < command.size() &&
            (command[i + 1] == '"' || command[i + 1] == '\\'))
          ++i;
        word += command[i];
      }
    } else if (c == '\\' && i + 1 < command.size()) {
      word += command[++i];
    } else {
      word += c;
    }
  }
  if (in_word) words.push_back(std::move(word));
  if (words.empty()) throw UsageError("--exec wants a command");
  return words;
}

ExecJob MessageJob(const FoundMessage& found, const std::string& port) {
  const ListedMessage& m = found.message;
  ExecJob job;
  job.input = MessageOutputLine(found, true) + "\n";
  job.environment = {
      {"VESTREL_NUMBER", platform::Cp1251ToUtf8(m.number)},
      {"VESTREL_TEXT", platform::Cp1251ToUtf8(m.text)},
      {"VESTREL_SENT_AT", m.sent_at.empty() ? platform::Cp1251ToUtf8(m.time) : m.sent_at},
      {"VESTREL_PORT", port}};
  job.what = "message from " + platform::Cp1251ToUtf8(m.number);
  return job;
}

}  // namespace vestrel::cli
