#include <windows.h>

#include <map>
#include <mutex>
#include <utility>

#include "platform/cp1251.h"
#include "platform/events.h"

namespace vestrel::platform {

struct Event::Impl {
  HANDLE handle = nullptr;
  ~Impl() {
    if (handle) ::CloseHandle(handle);
  }
};

Event::Event(bool manual_reset, bool initially_signaled) : impl_(std::make_unique<Impl>()) {
  impl_->handle = ::CreateEventW(nullptr, manual_reset, initially_signaled, nullptr);
}

Event::Event(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

Event::~Event() = default;

void Event::Set() {
  ::SetEvent(impl_->handle);
}

void Event::Reset() {
  ::ResetEvent(impl_->handle);
}

WaitResult Event::Wait(std::uint32_t timeout_ms) {
  const DWORD r =
      ::WaitForSingleObject(impl_->handle, timeout_ms == kInfinite ? INFINITE : timeout_ms);
  return r == WAIT_OBJECT_0 ? WaitResult::Signaled : WaitResult::Timeout;
}

namespace {

std::wstring WideName(const std::string& cp1251) {
  std::wstring wide;
  for (unsigned char c : cp1251) wide.push_back(static_cast<wchar_t>(Cp1251ToUnicode(c)));
  return wide;
}

// The system finds an event by name on its own; the registry keeps one
// Event object per name in this process, so that two handles of the same
// name compare equal here as the same event.
std::mutex registry_mutex;
std::map<std::string, std::weak_ptr<Event>>& Registry() {
  static std::map<std::string, std::weak_ptr<Event>> registry;
  return registry;
}

}  // namespace

EventHandle CreateNamedEvent(const std::string& name, bool manual_reset, bool initially_signaled) {
  if (name.empty()) return std::make_shared<Event>(manual_reset, initially_signaled);
  std::lock_guard lock(registry_mutex);
  auto& slot = Registry()[name];
  if (auto existing = slot.lock()) return existing;
  auto impl = std::make_unique<Event::Impl>();
  // An event of that name in another process is opened, its settings kept.
  impl->handle = ::CreateEventW(nullptr, manual_reset, initially_signaled, WideName(name).c_str());
  if (!impl->handle) return nullptr;
  EventHandle created(new Event(std::move(impl)));
  slot = created;
  return created;
}

EventHandle OpenNamedEvent(const std::string& name) {
  std::lock_guard lock(registry_mutex);
  auto it = Registry().find(name);
  if (it != Registry().end()) {
    if (auto existing = it->second.lock()) return existing;
    Registry().erase(it);
  }
  if (name.empty()) return nullptr;
  auto impl = std::make_unique<Event::Impl>();
  impl->handle = ::OpenEventW(EVENT_MODIFY_STATE | SYNCHRONIZE, FALSE, WideName(name).c_str());
  if (!impl->handle) return nullptr;
  EventHandle opened(new Event(std::move(impl)));
  Registry()[name] = opened;
  return opened;
}

}  // namespace vestrel::platform
