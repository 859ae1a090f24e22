#pragma once
// TComThread: the event thread of an open port. It waits for line events and
// hands each batch to the port's dispatchers by the port's SyncMethod.

#include <atomic>
#include <memory>
#include <thread>

#include "comport/b_com_port.h"

namespace vestrel {

class EventWaiter;
class SerialDevice;
struct NotifyChannel;

class TComThread {
 public:
  // Sets the device's event mask from the port's watched events and starts
  // the thread; returns once the thread runs.
  explicit TComThread(TBComPort* port);
  TComThread(const TComThread&) = delete;
  TComThread& operator=(const TComThread&) = delete;
  // Stops the thread and waits for its end. On the user-interface thread the
  // wait keeps serving deliveries, so one already requested runs here.
  ~TComThread();

  // True while this thread's own delivery is running on the calling thread
  // (a handler of the port is on the stack below).
  bool DeliveringHere() const;
  // Lets the thread end on its own, without waiting for it: used when the
  // port is closed from inside one of its handlers. No further event of the
  // current batch is handed to the port.
  void Detach();
  // Once the delivery running now has returned, delivers received characters
  // again without waiting for the device: the port holds some (HoldInput).
  void DeliverHeldInput();
  // The thread ended because the device hung up or failed.
  bool DeviceLost() const;

  // Threads let go by Detach() that have not ended yet.
  static int DetachedRunning();

  struct State;

 private:
  std::shared_ptr<State> state_;
  std::thread thread_;
};

}  // namespace vestrel
