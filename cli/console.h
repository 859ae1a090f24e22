#pragma once
// What vestrel-sms needs of its console and process beyond the port: one
// implementation file per OS.

#include <filesystem>
#include <memory>

#include "cli/watchdog.h"
#include "messaging/dialogue_stop.h"

namespace vestrel::cli {

bool StandardErrorIsTerminal();

// Writing to a closed pipe fails as a write instead of ending the process.
void IgnoreBrokenPipe();

// A fresh folder that only this user may use, under the system's temporary
// folder; an empty path when none can be made.
std::filesystem::path MakePrivateFolder();

// While it lives, Ctrl-C requests a stop of the dialogues and wakes the
// watchdog; the handler before it comes back afterwards.
class InterruptGuard {
 public:
  InterruptGuard(DialogueStop& stop, Watchdog& watchdog);
  ~InterruptGuard();
  InterruptGuard(const InterruptGuard&) = delete;
  InterruptGuard& operator=(const InterruptGuard&) = delete;

 private:
  struct Saved;
  std::unique_ptr<Saved> saved_;
};

}  // namespace vestrel::cli
