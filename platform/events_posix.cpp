#include "platform/events.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <utility>

namespace vestrel::platform {

struct Event::Impl {
  std::mutex mutex;
  std::condition_variable cv;
  bool manual_reset;
  bool signaled;
};

Event::Event(bool manual_reset, bool initially_signaled) : impl_(std::make_unique<Impl>()) {
  impl_->manual_reset = manual_reset;
  impl_->signaled = initially_signaled;
}

Event::Event(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

Event::~Event() = default;

void Event::Set() {
  {
    std::lock_guard lock(impl_->mutex);
    impl_->signaled = true;
  }
  impl_->cv.notify_all();
}

void Event::Reset() {
  std::lock_guard lock(impl_->mutex);
  impl_->signaled = false;
}

WaitResult Event::Wait(std::uint32_t timeout_ms) {
  std::unique_lock lock(impl_->mutex);
  const auto ready = [this] { return impl_->signaled; };
  if (timeout_ms == kInfinite) {
    impl_->cv.wait(lock, ready);
  } else if (!impl_->cv.wait_for(lock, std::chrono::milliseconds(timeout_ms), ready)) {
    return WaitResult::Timeout;
  }
  if (!impl_->manual_reset) impl_->signaled = false;
  return WaitResult::Signaled;
}

namespace {

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
  auto created = std::make_shared<Event>(manual_reset, initially_signaled);
  slot = created;
  return created;
}

EventHandle OpenNamedEvent(const std::string& name) {
  std::lock_guard lock(registry_mutex);
  auto it = Registry().find(name);
  if (it == Registry().end()) return nullptr;
  auto existing = it->second.lock();
  if (!existing) Registry().erase(it);
  return existing;
}

}  // namespace vestrel::platform
