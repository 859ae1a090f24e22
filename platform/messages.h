#pragma once
// Message handling of the user-interface thread, the millisecond clock and the
// blocking modem wait.

#include <cstdint>
#include <functional>

#include "platform/events.h"

namespace vestrel::platform {

// Handles every message waiting for the user-interface thread. The Qt glue
// installs the event loop's processEvents(); without it, queued deliveries
// (CheckSynchronize) are all there is to handle.
void ProcessMessages();
void SetProcessMessagesHook(std::function<void()> hook);

// Lets requests of the window system (a close, a repaint) reach the program in
// the middle of a dialogue, without handling any delivery or operator input:
// those wait until the dialogue is over. Without the Qt glue it does nothing.
void ServeWindowRequests();
void SetWindowRequestsHook(std::function<void()> hook);

// Sleeps ms milliseconds (alertable in the original sense: nothing else runs).
void SleepMs(std::uint32_t ms);

// Monotonic milliseconds, wrapping at 2^32 like GetTickCount.
std::uint32_t TickCount();

// The modem wait: the named manual-reset event "et", never signalled by the
// program, waited on with a time-out. Each operation that waits opens its own
// handle once, at its start.
inline constexpr std::uint32_t kModemWaitMs = 1000;
EventHandle OpenModemWaitEvent();
// Blocks the calling thread for timeout_ms without handling any message.
void ModemWait(const EventHandle& et, std::uint32_t timeout_ms = kModemWaitMs);

}  // namespace vestrel::platform
