#include "platform/sync.h"

#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>

namespace vestrel::platform {
namespace {

struct Job {
  std::function<void()> fn;
  // Set for Synchronize(): the caller waits for `done` and takes `error`.
  struct Waiter* waiter = nullptr;
};

struct Waiter {
  bool done = false;
  std::exception_ptr error;
};

struct SyncState {
  std::mutex mutex;
  std::condition_variable changed;  // work queued, work done, or a waiter's condition
  std::deque<Job> queue;
  std::function<void()> wake;
  std::thread::id ui_thread;
  bool ui_thread_known = false;
};

SyncState& State() {
  static SyncState state;
  return state;
}

void Enqueue(Job job) {
  auto& s = State();
  std::function<void()> wake;
  {
    std::lock_guard lock(s.mutex);
    s.queue.push_back(std::move(job));
    wake = s.wake;
  }
  s.changed.notify_all();
  if (wake) wake();
}

// Called with s.mutex held.
bool TakeUiThreadIfNoneLocked(SyncState& s) {
  if (!s.ui_thread_known) {
    s.ui_thread = std::this_thread::get_id();
    s.ui_thread_known = true;
  }
  return s.ui_thread == std::this_thread::get_id();
}

}  // namespace

void SetUiThread() {
  auto& s = State();
  std::lock_guard lock(s.mutex);
  s.ui_thread = std::this_thread::get_id();
  s.ui_thread_known = true;
}

bool IsUiThread() {
  auto& s = State();
  std::lock_guard lock(s.mutex);
  return s.ui_thread_known && s.ui_thread == std::this_thread::get_id();
}

bool TakeUiThreadIfNone() {
  auto& s = State();
  std::lock_guard lock(s.mutex);
  return TakeUiThreadIfNoneLocked(s);
}

void Synchronize(std::function<void()> fn) {
  if (IsUiThread()) {
    fn();
    return;
  }
  Waiter waiter;
  Enqueue(Job{std::move(fn), &waiter});
  auto& s = State();
  {
    std::unique_lock lock(s.mutex);
    s.changed.wait(lock, [&] { return waiter.done; });
  }
  if (waiter.error) std::rethrow_exception(waiter.error);
}

void Queue(std::function<void()> fn) {
  Enqueue(Job{std::move(fn), nullptr});
}

bool CheckSynchronize() {
  auto& s = State();
  std::deque<Job> jobs;
  {
    std::lock_guard lock(s.mutex);
    TakeUiThreadIfNoneLocked(s);
    jobs.swap(s.queue);
  }
  if (jobs.empty()) return false;
  for (auto& job : jobs) {
    std::exception_ptr error;
    try {
      job.fn();
    } catch (...) {
      error = std::current_exception();
    }
    if (job.waiter) {
      {
        std::lock_guard lock(s.mutex);
        // The waiter takes the only reference, so the exception is freed on
        // the thread that reads it.
        job.waiter->error = std::move(error);
        job.waiter->done = true;
      }
      s.changed.notify_all();
    } else if (error) {
      // Queued work has nobody to return to; it reports its own failures.
      // Swallowing here keeps one faulty job from dropping the ones behind it.
    }
  }
  return true;
}

void SetWakeHook(std::function<void()> wake) {
  auto& s = State();
  std::lock_guard lock(s.mutex);
  s.wake = std::move(wake);
}

void ServeUntil(const std::function<bool()>& done) {
  auto& s = State();
  for (;;) {
    CheckSynchronize();
    std::unique_lock lock(s.mutex);
    if (done()) return;
    s.changed.wait(lock, [&] { return !s.queue.empty() || done(); });
    if (s.queue.empty() && done()) return;
  }
}

void WakeSyncWaiters() {
  auto& s = State();
  { std::lock_guard lock(s.mutex); }
  s.changed.notify_all();
}

}  // namespace vestrel::platform
