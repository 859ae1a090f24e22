#include "comport/com_thread.h"

#include <condition_variable>
#include <exception>
#include <mutex>

#include "comport/notify_window.h"
#include "comport/serial_device.h"
#include "platform/exceptions.h"
#include "platform/sync.h"

namespace vestrel {

namespace {

std::atomic<int> detached_running{0};

}  // namespace

struct TComThread::State {
  TBComPort* port;
  TSyncMethod sync_method;
  TComEvents watched;
  std::shared_ptr<SerialDevice> device;
  std::shared_ptr<NotifyChannel> channel;
  std::unique_ptr<EventWaiter> waiter;

  std::atomic<bool> detached{false};
  std::atomic<bool> finished{false};
  std::atomic<bool> device_lost{false};
  // The port no longer runs this thread (closed, or being closed).
  std::atomic<bool> orphaned{false};
  // The port holds received characters that no delivery has handed over.
  std::atomic<bool> held_input{false};

  std::mutex start_mutex;
  std::condition_variable start_cv;
  bool started = false;

  void Run(const std::shared_ptr<State>& self);
  static void ReportDeviceLost(std::shared_ptr<State> state);
  void DeliverEvents(TComEvents events);
  void SendEventMessages(TComEvents events);
  void Deliver(TComEvents events);
};

namespace {

// The thread's delivery running on the calling thread, if any.
thread_local const TComThread::State* delivering = nullptr;

}  // namespace

// A lost device closes its port and is reported once, both on the
// user-interface thread: the port is closed there (its Close joins this
// thread, which has ended by then), so that the next Open opens the device
// again, and the operator's message comes when the port is already closed.
// A port closed or destroyed meanwhile is not touched.
void TComThread::State::ReportDeviceLost(std::shared_ptr<State> state) {
  platform::Queue([state = std::move(state)] {
    if (!state->orphaned.load()) state->port->CloseLostDevice();
    platform::HandleException(std::make_exception_ptr(EComPort(comport_messages::ReadError())));
  });
}

void TComThread::State::DeliverEvents(TComEvents events) {
  const State* outer = delivering;
  delivering = this;
  for (TComEvent event : kDeliveryOrder) {
    if (!events.Contains(event)) continue;
    // A handler that closed or destroyed the port ends the batch: the port
    // may be gone.
    if (detached.load()) break;
    std::exception_ptr error;
    try {
      port->DispatchEvent(event);
    } catch (...) {
      error = std::current_exception();
    }
    // A failing handler must not end reception: the error is shown on the
    // user-interface thread and the thread goes on waiting. It is handed over
    // outside the catch, so that this thread holds no reference to it after.
    if (error) platform::ReportException(std::move(error));
  }
  delivering = outer;
}

void TComThread::State::SendEventMessages(TComEvents events) {
  for (TComEvent event : kDeliveryOrder) {
    if (events.Contains(event))
      SendChannelMessage(channel, TBComPort::kComEventMessage, EventFlag(event), 0);
  }
}

void TComThread::State::Deliver(TComEvents events) {
  switch (sync_method) {
    case smThreadSync:
      platform::Synchronize([this, events] { DeliverEvents(events); });
      break;
    case smWindowSync:
      SendEventMessages(events);
      break;
    case smNone:
      DeliverEvents(events);
      break;
  }
}

void TComThread::State::Run(const std::shared_ptr<State>& self) {
  {
    std::lock_guard lock(start_mutex);
    started = true;
  }
  start_cv.notify_all();

  for (;;) {
    std::uint32_t mask = 0;
    const WaitOutcome outcome = waiter->Wait(&mask);
    if (outcome == WaitOutcome::kStopped) break;
    if (outcome != WaitOutcome::kEvents) {
      // A device that hung up or went away would wake every wait at once:
      // end instead of spinning, and report it once below.
      device_lost.store(true);
      break;
    }
    TComEvents events = TComEvents::FromBits(EventsFromMask(mask).Bits() & watched.Bits());
    if (events.Empty()) continue;
    Deliver(events);
    // Bytes a handler held are received characters no delivery has handed
    // over yet, and the device may have nothing more to wake this thread.
    while (held_input.exchange(false) && watched.Contains(evRxChar) && !detached.load() &&
           !orphaned.load())
      Deliver(TComEvents{evRxChar});
  }

  device->SetCommMask(0);
  device->PurgeComm(kPurgeTxClear | kPurgeRxClear);
  if (detached.load()) detached_running.fetch_sub(1);
  const bool lost = device_lost.load();
  finished.store(true);
  platform::WakeSyncWaiters();
  if (lost) ReportDeviceLost(self);
}

TComThread::TComThread(TBComPort* port) : state_(std::make_shared<State>()) {
  state_->port = port;
  state_->sync_method = port->SyncMethod();
  state_->watched = port->WatchedEvents();
  state_->device = port->device_;
  if (port->notify_window_) state_->channel = port->notify_window_->Channel();
  // Without a device (a failed open that got this far) the thread has
  // nothing to wait for; the waiter then reports a failure at once.
  if (state_->device) {
    state_->device->SetCommMask(EventsToMask(state_->watched));
    state_->waiter = state_->device->CreateEventWaiter();
  }
  if (!state_->waiter) {
    // No way to wait for events: reported like a device lost while waiting.
    state_->device_lost.store(true);
    state_->finished.store(true);
    State::ReportDeviceLost(state_);
    return;
  }
  std::shared_ptr<State> state = state_;
  thread_ = std::thread([state] { state->Run(state); });
  std::unique_lock lock(state_->start_mutex);
  state_->start_cv.wait(lock, [&] { return state_->started; });
}

TComThread::~TComThread() {
  state_->orphaned.store(true);
  if (!thread_.joinable()) return;
  state_->waiter->Stop();
  std::this_thread::yield();
  // A delivery the thread has already asked for runs here, so that the thread
  // can finish it and see the stop.
  if (platform::IsUiThread()) {
    const State* state = state_.get();
    platform::ServeUntil([state] { return state->finished.load(); });
  }
  thread_.join();
}

bool TComThread::DeliveringHere() const {
  return delivering == state_.get();
}

void TComThread::Detach() {
  if (!thread_.joinable()) return;
  if (state_->finished.load()) {
    thread_.join();
    return;
  }
  detached_running.fetch_add(1);
  state_->detached.store(true);
  state_->waiter->Stop();
  thread_.detach();
}

void TComThread::DeliverHeldInput() {
  state_->held_input.store(true);
}

bool TComThread::DeviceLost() const {
  return state_->device_lost.load();
}

int TComThread::DetachedRunning() {
  return detached_running.load();
}

}  // namespace vestrel
