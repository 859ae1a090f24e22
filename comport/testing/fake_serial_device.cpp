#include "comport/testing/fake_serial_device.h"

#include <algorithm>
#include <cstring>

namespace vestrel::testing {

class FakeEventWaiter : public EventWaiter {
 public:
  explicit FakeEventWaiter(std::shared_ptr<FakeSerialDevice> device) : device_(std::move(device)) {}

  WaitOutcome Wait(std::uint32_t* events) override {
    *events = 0;
    std::unique_lock lock(device_->mutex_);
    ++device_->waits_started_;
    device_->changed_.notify_all();
    for (;;) {
      if (stopped_) return WaitOutcome::kStopped;
      if (device_->hung_up_) return WaitOutcome::kHangUp;
      if (device_->raised_.empty()) {
        device_->changed_.wait(lock);
        continue;
      }
      std::uint32_t mask = device_->raised_.front();
      device_->raised_.pop_front();
      device_->line_events_.Note(device_->line_sample_);
      mask = (mask | device_->line_events_.TakeEvents()) & device_->mask_;
      if (mask) {
        *events = mask;
        return WaitOutcome::kEvents;
      }
    }
  }

  void Stop() override {
    std::lock_guard lock(device_->mutex_);
    stopped_ = true;
    device_->changed_.notify_all();
  }

 private:
  std::shared_ptr<FakeSerialDevice> device_;
  bool stopped_ = false;  // guarded by the device's mutex
};

bool FakeSerialDevice::Enter(const std::string& call, const std::string& args) {
  calls_.push_back(args.empty() ? call : call + "(" + args + ")");
  return !closed_ && failing_.count(call) == 0;
}

void FakeSerialDevice::FailCall(const std::string& call, bool fail) {
  std::lock_guard lock(mutex_);
  if (fail)
    failing_.insert(call);
  else
    failing_.erase(call);
}

void FakeSerialDevice::RaiseEvents(std::uint32_t mask) {
  std::lock_guard lock(mutex_);
  raised_.push_back(mask);
  changed_.notify_all();
}

void FakeSerialDevice::HangUp() {
  std::lock_guard lock(mutex_);
  hung_up_ = true;
  changed_.notify_all();
}

void FakeSerialDevice::PushInput(const std::string& bytes) {
  std::lock_guard lock(mutex_);
  input_ += bytes;
}

void FakeSerialDevice::SetErrorWord(std::uint32_t word) {
  std::lock_guard lock(mutex_);
  error_word_ = word;
}

void FakeSerialDevice::SetModemStatus(std::uint32_t status) {
  std::lock_guard lock(mutex_);
  modem_status_ = status;
}

void FakeSerialDevice::SetLineSample(const LineSample& sample) {
  std::lock_guard lock(mutex_);
  line_sample_ = sample;
  if (sample.have_lines) modem_status_ = sample.modem_status;
}

void FakeSerialDevice::LimitWrites(std::uint32_t max_bytes) {
  std::lock_guard lock(mutex_);
  write_limit_ = max_bytes;
}

std::vector<std::string> FakeSerialDevice::Calls() const {
  std::lock_guard lock(mutex_);
  return calls_;
}

int FakeSerialDevice::CountCalls(const std::string& call) const {
  std::lock_guard lock(mutex_);
  return static_cast<int>(std::count_if(calls_.begin(), calls_.end(), [&](const std::string& c) {
    return c == call || c.rfind(call + "(", 0) == 0;
  }));
}

void FakeSerialDevice::ClearCalls() {
  std::lock_guard lock(mutex_);
  calls_.clear();
}

std::string FakeSerialDevice::Written() const {
  std::lock_guard lock(mutex_);
  return written_;
}

DeviceControlBlock FakeSerialDevice::LastState() const {
  std::lock_guard lock(mutex_);
  return last_state_;
}

CommTimeouts FakeSerialDevice::LastTimeouts() const {
  std::lock_guard lock(mutex_);
  return last_timeouts_;
}

std::uint32_t FakeSerialDevice::Mask() const {
  std::lock_guard lock(mutex_);
  return mask_;
}

bool FakeSerialDevice::Closed() const {
  std::lock_guard lock(mutex_);
  return closed_;
}

int FakeSerialDevice::WaitersCreated() const {
  std::lock_guard lock(mutex_);
  return waiters_created_;
}

int FakeSerialDevice::WaitsStarted() const {
  std::lock_guard lock(mutex_);
  return waits_started_;
}

bool FakeSerialDevice::SetupComm(std::uint32_t in_queue, std::uint32_t out_queue) {
  std::lock_guard lock(mutex_);
  return Enter(kSetupComm, std::to_string(in_queue) + "," + std::to_string(out_queue));
}

bool FakeSerialDevice::SetCommState(const DeviceControlBlock& dcb) {
  std::lock_guard lock(mutex_);
  if (!Enter(kSetCommState)) return false;
  last_state_ = dcb;
  return true;
}

bool FakeSerialDevice::SetCommTimeouts(const CommTimeouts& timeouts) {
  std::lock_guard lock(mutex_);
  if (!Enter(kSetCommTimeouts)) return false;
  last_timeouts_ = timeouts;
  return true;
}

bool FakeSerialDevice::EscapeCommFunction(std::uint32_t function) {
  std::lock_guard lock(mutex_);
  return Enter(kEscapeCommFunction, std::to_string(function));
}

bool FakeSerialDevice::PurgeComm(std::uint32_t flags) {
  std::lock_guard lock(mutex_);
  return Enter(kPurgeComm, std::to_string(flags));
}

bool FakeSerialDevice::SetCommMask(std::uint32_t mask) {
  std::lock_guard lock(mutex_);
  if (!Enter(kSetCommMask, std::to_string(mask))) return false;
  mask_ = mask;
  changed_.notify_all();
  return true;
}

bool FakeSerialDevice::ClearCommError(std::uint32_t* errors, std::uint32_t* in_queue) {
  std::lock_guard lock(mutex_);
  if (!Enter(kClearCommError)) return false;
  if (line_events_.Note(line_sample_)) {
    raised_.push_back(0);  // wakes the wait, which raises what was found
    changed_.notify_all();
  }
  if (errors) *errors = error_word_ | line_events_.TakeErrorWord();
  error_word_ = 0;
  if (in_queue) *in_queue = static_cast<std::uint32_t>(input_.size());
  return true;
}

bool FakeSerialDevice::GetCommModemStatus(std::uint32_t* status) {
  std::lock_guard lock(mutex_);
  if (!Enter(kGetCommModemStatus)) return false;
  *status = modem_status_;
  return true;
}

bool FakeSerialDevice::Write(const char* data, std::uint32_t count, std::uint32_t* written) {
  std::lock_guard lock(mutex_);
  *written = 0;
  if (!Enter(kWrite, std::to_string(count))) return false;
  *written = std::min(count, write_limit_);
  written_.append(data, *written);
  return true;
}

bool FakeSerialDevice::Read(char* data, std::uint32_t count, std::uint32_t* read) {
  std::lock_guard lock(mutex_);
  *read = 0;
  if (!Enter(kRead, std::to_string(count))) return false;
  *read = std::min<std::uint32_t>(count, static_cast<std::uint32_t>(input_.size()));
  std::memcpy(data, input_.data(), *read);
  input_.erase(0, *read);
  return true;
}

std::unique_ptr<EventWaiter> FakeSerialDevice::CreateEventWaiter() {
  {
    std::lock_guard lock(mutex_);
    if (!Enter(kCreateEventWaiter)) return nullptr;
    ++waiters_created_;
  }
  return std::make_unique<FakeEventWaiter>(shared_from_this());
}

void FakeSerialDevice::Close() {
  std::lock_guard lock(mutex_);
  calls_.push_back("Close");
  closed_ = true;
  changed_.notify_all();
}

std::shared_ptr<SerialDevice> FakeDeviceFactory::Open(const std::string& port, OpenError* error) {
  std::lock_guard lock(mutex_);
  opened_.push_back(port);
  if (next_error_ != OpenError::kNone) {
    *error = next_error_;
    next_error_ = OpenError::kNone;
    return nullptr;
  }
  *error = OpenError::kNone;
  last_ = std::make_shared<FakeSerialDevice>();
  return last_;
}

void FakeDeviceFactory::FailNextOpen(OpenError error) {
  std::lock_guard lock(mutex_);
  next_error_ = error;
}

std::shared_ptr<FakeSerialDevice> FakeDeviceFactory::LastDevice() const {
  std::lock_guard lock(mutex_);
  return last_;
}

std::vector<std::string> FakeDeviceFactory::OpenedPorts() const {
  std::lock_guard lock(mutex_);
  return opened_;
}

}  // namespace vestrel::testing
