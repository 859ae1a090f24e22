#pragma once
// Named events in the manner of the Win32 CreateEventW/OpenEventW. Handles are
// shared pointers; an event lives while any handle to it does, and the name
// then finds the same event again. On Windows they are the system's events
// (shared with other processes of the session); elsewhere a process-wide
// registry stands in.

#include <cstdint>
#include <memory>
#include <string>

namespace vestrel::platform {

inline constexpr std::uint32_t kInfinite = 0xFFFFFFFFu;

enum class WaitResult { Signaled, Timeout };

class Event {
 public:
  Event(bool manual_reset, bool initially_signaled);
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;
  ~Event();

  void Set();
  void Reset();
  // Waits until the event is signalled or timeout_ms have passed (kInfinite:
  // no limit). An auto-reset event is reset by the wait that takes it.
  WaitResult Wait(std::uint32_t timeout_ms);

 private:
  struct Impl;  // each OS's own
  explicit Event(std::unique_ptr<Impl> impl);
  friend std::shared_ptr<Event> CreateNamedEvent(const std::string&, bool, bool);
  friend std::shared_ptr<Event> OpenNamedEvent(const std::string&);

  std::unique_ptr<Impl> impl_;
};

using EventHandle = std::shared_ptr<Event>;

// Creates the event, or opens the existing one of that name (its settings are
// then kept). An empty name makes an unnamed event.
EventHandle CreateNamedEvent(const std::string& name, bool manual_reset, bool initially_signaled);

// The existing event of that name, or null.
EventHandle OpenNamedEvent(const std::string& name);

}  // namespace vestrel::platform
