#pragma once
// A scriptable serial device: every call can be made to fail, every line event
// can be raised, and every call is recorded. For tests of the port's failure
// paths and deliveries without a terminal.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "comport/line_events.h"
#include "comport/serial_device.h"

namespace vestrel::testing {

class FakeSerialDevice : public SerialDevice,
                         public std::enable_shared_from_this<FakeSerialDevice> {
 public:
  // Names of the calls, as recorded and as given to FailCall.
  static constexpr const char* kSetupComm = "SetupComm";
  static constexpr const char* kSetCommState = "SetCommState";
  static constexpr const char* kSetCommTimeouts = "SetCommTimeouts";
  static constexpr const char* kEscapeCommFunction = "EscapeCommFunction";
  static constexpr const char* kPurgeComm = "PurgeComm";
  static constexpr const char* kSetCommMask = "SetCommMask";
  static constexpr const char* kClearCommError = "ClearCommError";
  static constexpr const char* kGetCommModemStatus = "GetCommModemStatus";
  static constexpr const char* kWrite = "Write";
  static constexpr const char* kRead = "Read";
  static constexpr const char* kCreateEventWaiter = "CreateEventWaiter";

  // Script.
  void FailCall(const std::string& call, bool fail = true);
  void RaiseEvents(std::uint32_t mask);  // wakes the waiter with these events
  void HangUp();                         // every wait ends with kHangUp
  void PushInput(const std::string& bytes);
  void SetErrorWord(std::uint32_t word);
  void SetModemStatus(std::uint32_t status);
  // A UART's modem lines and error counters as the device reads them now.
  // Like the POSIX backend, the wait (on each wake) and ClearCommError look at
  // them, and a change either finds is raised once by the wait.
  void SetLineSample(const LineSample& sample);
  // A write takes at most this many bytes (the rest "times out").
  void LimitWrites(std::uint32_t max_bytes);

  // Observation.
  std::vector<std::string> Calls() const;  // "EscapeCommFunction(6)", ...
  int CountCalls(const std::string& call) const;
  void ClearCalls();
  std::string Written() const;
  DeviceControlBlock LastState() const;
  CommTimeouts LastTimeouts() const;
  std::uint32_t Mask() const;
  bool Closed() const;
  int WaitersCreated() const;
  int WaitsStarted() const;

  // SerialDevice
  bool SetupComm(std::uint32_t in_queue, std::uint32_t out_queue) override;
  bool SetCommState(const DeviceControlBlock& dcb) override;
  bool SetCommTimeouts(const CommTimeouts& timeouts) override;
  bool EscapeCommFunction(std::uint32_t function) override;
  bool PurgeComm(std::uint32_t flags) override;
  bool SetCommMask(std::uint32_t mask) override;
  bool ClearCommError(std::uint32_t* errors, std::uint32_t* in_queue) override;
  bool GetCommModemStatus(std::uint32_t* status) override;
  bool Write(const char* data, std::uint32_t count, std::uint32_t* written) override;
  bool Read(char* data, std::uint32_t count, std::uint32_t* read) override;
  std::unique_ptr<EventWaiter> CreateEventWaiter() override;
  void Close() override;

 private:
  friend class FakeEventWaiter;
  bool Enter(const std::string& call, const std::string& args = "");

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> calls_;
  std::set<std::string> failing_;
  std::deque<std::uint32_t> raised_;
  bool hung_up_ = false;
  bool closed_ = false;
  std::string input_;
  std::string written_;
  std::uint32_t error_word_ = 0;
  std::uint32_t modem_status_ = 0;
  LineSample line_sample_;
  LineEvents line_events_;
  std::uint32_t write_limit_ = 0xFFFFFFFFu;
  std::uint32_t mask_ = 0;
  DeviceControlBlock last_state_;
  CommTimeouts last_timeouts_;
  int waiters_created_ = 0;
  int waits_started_ = 0;
};

// Opens FakeSerialDevice objects; the next open can be made to fail.
class FakeDeviceFactory : public SerialDeviceFactory {
 public:
  std::shared_ptr<SerialDevice> Open(const std::string& port, OpenError* error) override;

  void FailNextOpen(OpenError error);
  std::shared_ptr<FakeSerialDevice> LastDevice() const;
  std::vector<std::string> OpenedPorts() const;

 private:
  mutable std::mutex mutex_;
  OpenError next_error_ = OpenError::kNone;
  std::shared_ptr<FakeSerialDevice> last_;
  std::vector<std::string> opened_;
};

}  // namespace vestrel::testing
