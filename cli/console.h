#pragma once
// What vestrel-sms needs of its console and process beyond the port: one
// implementation file per OS.

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "cli/watchdog.h"
#include "messaging/dialogue_stop.h"

namespace vestrel::cli {

// While it lives, the console takes and shows UTF-8 (on Windows its code
// pages, restored afterwards) and standard output passes the program's bytes
// unchanged.
class ConsoleSession {
 public:
  ConsoleSession();
  ~ConsoleSession();
  ConsoleSession(const ConsoleSession&) = delete;
  ConsoleSession& operator=(const ConsoleSession&) = delete;

 private:
  // Windows: the console's code pages before; 0 when there was no console.
  unsigned input_code_page_ = 0;
  unsigned output_code_page_ = 0;
};

// The arguments after the program name, as UTF-8.
std::vector<std::string> CommandLineArguments(int argc, char** argv);

// A name as the program's file functions take it: its bytes on Linux,
// Windows-1251 on Windows.
std::string FileNameBytes(const std::filesystem::path& path);

// The name of a file under MakePrivateFolder() as platform::StagePrivateFile
// takes it: its bytes on Linux, UTF-8 on Windows (whatever %TEMP% holds).
std::string StagingFileName(const std::filesystem::path& path);

// Opens the --log file (a UTF-8 name) for appending, not inherited by child
// processes; a new file is readable by this user alone. Null with errno set
// when it cannot be opened; ELOOP when a link stands there, which is never
// written through.
std::FILE* OpenLogFile(const std::string& utf8_name);

// The local time of a moment, on any thread.
std::tm LocalTime(std::time_t moment);

bool StandardErrorIsTerminal();

// Writing to a closed pipe fails as a write instead of ending the process.
void IgnoreBrokenPipe();

// A fresh folder that only this user may use, under the system's temporary
// folder; an empty path when none can be made.
std::filesystem::path MakePrivateFolder();

// While it lives, Ctrl-C (and on POSIX SIGTERM and SIGHUP: a shutdown, a
// closed terminal) requests a stop of the dialogues and wakes the watchdog;
// the handlers before it come back afterwards.
class InterruptGuard {
 public:
  InterruptGuard(DialogueStop& stop, Watchdog& watchdog);
  ~InterruptGuard();
  // The exit status that tells which request it was: 128 + the signal.
  static int ExitStatus();
  InterruptGuard(const InterruptGuard&) = delete;
  InterruptGuard& operator=(const InterruptGuard&) = delete;

 private:
  struct Saved;
  std::unique_ptr<Saved> saved_;
};

}  // namespace vestrel::cli
