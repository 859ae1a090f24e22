#include "platform/messages.h"

#include <chrono>
#include <mutex>
#include <thread>

#include "platform/sync.h"

namespace vestrel::platform {
namespace {

std::mutex hook_mutex;
std::function<void()> process_messages_hook;
std::function<void()> window_requests_hook;

}  // namespace

void ProcessMessages() {
  std::function<void()> hook;
  {
    std::lock_guard lock(hook_mutex);
    hook = process_messages_hook;
  }
  if (hook) {
    hook();
  } else {
    CheckSynchronize();
  }
}

void SetProcessMessagesHook(std::function<void()> hook) {
  std::lock_guard lock(hook_mutex);
  process_messages_hook = std::move(hook);
}

void ServeWindowRequests() {
  std::function<void()> hook;
  {
    std::lock_guard lock(hook_mutex);
    hook = window_requests_hook;
  }
  if (hook) hook();
}

void SetWindowRequestsHook(std::function<void()> hook) {
  std::lock_guard lock(hook_mutex);
  window_requests_hook = std::move(hook);
}

void SleepMs(std::uint32_t ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

std::uint32_t TickCount() {
  const auto now = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<std::uint32_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

EventHandle OpenModemWaitEvent() {
  return CreateNamedEvent("et", true, false);
}

void ModemWait(const EventHandle& et, std::uint32_t timeout_ms) {
  if (et) et->Wait(timeout_ms);
}

}  // namespace vestrel::platform
