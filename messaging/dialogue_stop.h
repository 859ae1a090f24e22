#pragma once
// Ending the modem dialogues early, when the program is asked to end. A
// dialogue never stops in the middle of a command: it looks for the request at
// its command boundaries and then unwinds without writing anything more.

#include <atomic>
#include <exception>

#include "platform/messages.h"

namespace vestrel {

// Unwinds a dialogue that was asked to stop; the window drops it silently.
class DialogueStopped : public std::exception {
 public:
  const char* what() const noexcept override { return "dialogue stopped"; }
};

class DialogueStop {
 public:
  // Any thread, or a signal handler.
  void Request() { requested_.store(true); }
  bool Requested() const { return requested_.load(); }
  // For a signal handler, which may only store to a lock-free atomic.
  std::atomic<bool>& Flag() { return requested_; }

  // At a command boundary: lets a close request of the window system arrive
  // (no chunk is handled meanwhile) and throws DialogueStopped when a stop
  // has been requested.
  void AtBoundary() const {
    platform::ServeWindowRequests();
    ThrowIfRequested();
  }
  void ThrowIfRequested() const {
    if (Requested()) throw DialogueStopped();
  }

 private:
  std::atomic<bool> requested_{false};
};

}  // namespace vestrel
