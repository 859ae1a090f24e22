#include "platform/messages.h"

#include <mutex>

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

EventHandle OpenModemWaitEvent() {
  return CreateNamedEvent("et", true, false);
}

void ModemWait(const EventHandle& et, std::uint32_t timeout_ms) {
  if (et) et->Wait(timeout_ms);
}

}  // namespace vestrel::platform
