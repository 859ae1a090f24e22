// The serial device on Windows: the Win32 communications API itself. Every
// transfer and every wait for line events is overlapped on the one handle,
// each with an event object of its own; a wait ends early on a stop event.
#include "comport/win32_serial_device.h"

#include <atomic>
#include <utility>

#include "comport/win32_open_error.h"

namespace vestrel {

std::string DevicePathForPort(const std::string& port) {
  // A device path that already names the device namespace ("\\.\COM10",
  // "\\.\CNCA0" of a virtual port pair) is taken as given.
  if (port.starts_with("\\\\.\\")) return port;
  return "\\\\.\\" + port;
}

DCB ToSystemDcb(const DeviceControlBlock& block) {
  DCB dcb{};
  dcb.DCBlength = sizeof(DCB);
  dcb.BaudRate = block.BaudRate;
  const std::uint32_t f = block.Flags;
  dcb.fBinary = f & 1;
  dcb.fParity = (f >> 1) & 1;
  dcb.fOutxCtsFlow = (f >> 2) & 1;
  dcb.fOutxDsrFlow = (f >> 3) & 1;
  dcb.fDtrControl = (f >> 4) & 3;
  dcb.fDsrSensitivity = (f >> 6) & 1;
  dcb.fTXContinueOnXoff = (f >> 7) & 1;
  dcb.fOutX = (f >> 8) & 1;
  dcb.fInX = (f >> 9) & 1;
  dcb.fErrorChar = (f >> 10) & 1;
  dcb.fNull = (f >> 11) & 1;
  dcb.fRtsControl = (f >> 12) & 3;
  dcb.fAbortOnError = (f >> 14) & 1;
  dcb.XonLim = block.XonLim;
  dcb.XoffLim = block.XoffLim;
  dcb.ByteSize = block.ByteSize;
  dcb.Parity = block.Parity;
  dcb.StopBits = block.StopBits;
  dcb.XonChar = block.XonChar;
  dcb.XoffChar = block.XoffChar;
  dcb.ErrorChar = block.ErrorChar;
  dcb.EofChar = block.EofChar;
  dcb.EvtChar = block.EvtChar;
  return dcb;
}

namespace {

// An event object for one overlapped operation, closed with it.
class OverlappedCall {
 public:
  OverlappedCall() { ov_.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr); }
  OverlappedCall(const OverlappedCall&) = delete;
  OverlappedCall& operator=(const OverlappedCall&) = delete;
  ~OverlappedCall() {
    if (ov_.hEvent) ::CloseHandle(ov_.hEvent);
  }
  bool ok() const { return ov_.hEvent != nullptr; }
  OVERLAPPED* get() { return &ov_; }

  // Completes a call that returned FALSE: waits for it when it is pending.
  bool Finish(HANDLE handle, DWORD* transferred) {
    if (::GetLastError() != ERROR_IO_PENDING) return false;
    return ::GetOverlappedResult(handle, &ov_, transferred, TRUE) != 0;
  }

 private:
  OVERLAPPED ov_{};
};

// The handle, shared by the device and its event waiters, so that a waiter
// never outlives what it waits on.
struct Core {
  std::atomic<HANDLE> handle{INVALID_HANDLE_VALUE};
};

bool Fail(DWORD error) {
  ::SetLastError(error);
  return false;
}

class Win32EventWaiter : public EventWaiter {
 public:
  Win32EventWaiter(std::shared_ptr<Core> core, HANDLE stop) : core_(std::move(core)), stop_(stop) {}
  ~Win32EventWaiter() override { ::CloseHandle(stop_); }

  WaitOutcome Wait(std::uint32_t* events) override {
    *events = 0;
    if (::WaitForSingleObject(stop_, 0) == WAIT_OBJECT_0) return WaitOutcome::kStopped;
    const HANDLE handle = core_->handle.load();
    if (handle == INVALID_HANDLE_VALUE) return WaitOutcome::kHangUp;
    OverlappedCall call;
    if (!call.ok()) return WaitOutcome::kFailed;
    DWORD mask = 0;
    if (!::WaitCommEvent(handle, &mask, call.get())) {
      if (::GetLastError() != ERROR_IO_PENDING) return Outcome(::GetLastError());
      const HANDLE both[2] = {call.get()->hEvent, stop_};
      const DWORD which = ::WaitForMultipleObjects(2, both, FALSE, INFINITE);
      DWORD unused = 0;
      if (which != WAIT_OBJECT_0) {
        // Stopped (or the wait itself broke): the pending call must end
        // before its OVERLAPPED goes. Setting the event mask again ends a
        // pending WaitCommEvent with no events (wine ends it only that way);
        // cancelling ends it where the mask cannot be read.
        DWORD current = 0;
        if (!::GetCommMask(handle, &current) || !::SetCommMask(handle, current))
          ::CancelIoEx(handle, call.get());
        ::GetOverlappedResult(handle, call.get(), &unused, TRUE);
        return which == WAIT_OBJECT_0 + 1 ? WaitOutcome::kStopped : WaitOutcome::kFailed;
      }
      if (!::GetOverlappedResult(handle, call.get(), &unused, FALSE))
        return Outcome(::GetLastError());
    }
    *events = mask;
    return WaitOutcome::kEvents;
  }

  void Stop() override { ::SetEvent(stop_); }

 private:
  // A device that went away (unplugged, closed under the wait) fails every
  // later wait at once: that is a hang-up, not a failure to retry.
  static WaitOutcome Outcome(DWORD error) {
    switch (error) {
      case ERROR_ACCESS_DENIED:
      case ERROR_BAD_COMMAND:
      case ERROR_DEVICE_REMOVED:
      case ERROR_DEVICE_NOT_CONNECTED:
      case ERROR_GEN_FAILURE:
      case ERROR_INVALID_HANDLE:
      case ERROR_OPERATION_ABORTED:
        return WaitOutcome::kHangUp;
      default:
        return WaitOutcome::kFailed;
    }
  }

  std::shared_ptr<Core> core_;
  HANDLE stop_;
};

class Win32SerialDevice : public SerialDevice {
 public:
  explicit Win32SerialDevice(HANDLE handle) : core_(std::make_shared<Core>()) {
    core_->handle.store(handle);
  }
  ~Win32SerialDevice() override { Close(); }

  bool SetupComm(std::uint32_t in_queue, std::uint32_t out_queue) override {
    return ::SetupComm(Handle(), in_queue, out_queue) != 0;
  }

  bool SetCommState(const DeviceControlBlock& block) override {
    DCB dcb = ToSystemDcb(block);
    return ::SetCommState(Handle(), &dcb) != 0;
  }

  bool SetCommTimeouts(const CommTimeouts& t) override {
    COMMTIMEOUTS timeouts{t.ReadIntervalTimeout, t.ReadTotalTimeoutMultiplier,
                          t.ReadTotalTimeoutConstant, t.WriteTotalTimeoutMultiplier,
                          t.WriteTotalTimeoutConstant};
    if (!::SetCommTimeouts(Handle(), &timeouts)) return false;
    reads_at_once_.store(t.ReadIntervalTimeout == kMaxDword && t.ReadTotalTimeoutMultiplier == 0 &&
                         t.ReadTotalTimeoutConstant == 0);
    return true;
  }

  bool EscapeCommFunction(std::uint32_t function) override {
    return ::EscapeCommFunction(Handle(), function) != 0;
  }

  bool PurgeComm(std::uint32_t flags) override { return ::PurgeComm(Handle(), flags) != 0; }

  bool SetCommMask(std::uint32_t mask) override { return ::SetCommMask(Handle(), mask) != 0; }

  bool ClearCommError(std::uint32_t* errors, std::uint32_t* in_queue) override {
    DWORD e = 0;
    COMSTAT stat{};
    if (!::ClearCommError(Handle(), &e, &stat)) return false;
    *errors = e | kept_errors_.exchange(0);
    *in_queue = stat.cbInQue;
    return true;
  }

  bool GetCommModemStatus(std::uint32_t* status) override {
    DWORD s = 0;
    if (!::GetCommModemStatus(Handle(), &s)) return false;
    *status = s;
    return true;
  }

  bool Write(const char* data, std::uint32_t count, std::uint32_t* written) override {
    *written = 0;
    const HANDLE handle = Handle();
    if (handle == INVALID_HANDLE_VALUE) return Fail(ERROR_INVALID_HANDLE);
    OverlappedCall call;
    if (!call.ok()) return false;
    DWORD n = 0;
    if (!::WriteFile(handle, data, count, &n, call.get()) && !call.Finish(handle, &n)) return false;
    *written = n;
    return true;
  }

  bool Read(char* data, std::uint32_t count, std::uint32_t* read) override {
    *read = 0;
    const HANDLE handle = Handle();
    if (handle == INVALID_HANDLE_VALUE) return Fail(ERROR_INVALID_HANDLE);
    if (reads_at_once_.load()) {
      // Reads that return at once with what has arrived: with nothing there
      // the answer is no bytes, without a read (wine would leave such an
      // overlapped read pending until a byte comes). The line errors that the
      // look at the queue clears wait for the next ClearCommError.
      DWORD errors = 0;
      COMSTAT stat{};
      const bool looked = ::ClearCommError(handle, &errors, &stat) != 0;
      if (looked) kept_errors_.fetch_or(errors);
      if (looked && stat.cbInQue == 0) return true;
    }
    OverlappedCall call;
    if (!call.ok()) return false;
    DWORD n = 0;
    if (!::ReadFile(handle, data, count, &n, call.get()) && !call.Finish(handle, &n)) return false;
    *read = n;
    return true;
  }

  std::unique_ptr<EventWaiter> CreateEventWaiter() override {
    if (Handle() == INVALID_HANDLE_VALUE) return nullptr;
    const HANDLE stop = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!stop) return nullptr;
    return std::make_unique<Win32EventWaiter>(core_, stop);
  }

  void Close() override {
    const HANDLE handle = core_->handle.exchange(INVALID_HANDLE_VALUE);
    if (handle != INVALID_HANDLE_VALUE) ::CloseHandle(handle);
  }

 private:
  HANDLE Handle() const { return core_->handle.load(); }

  std::shared_ptr<Core> core_;
  std::atomic<bool> reads_at_once_{false};
  std::atomic<std::uint32_t> kept_errors_{0};
};

class Win32DeviceFactory : public SerialDeviceFactory {
 public:
  std::shared_ptr<SerialDevice> Open(const std::string& port, OpenError* error) override {
    // Share mode 0: a second opener, in this process or another, is refused
    // with ERROR_ACCESS_DENIED while the port is ours.
    const HANDLE handle =
        ::CreateFileA(DevicePathForPort(port).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                      OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      const DWORD code = ::GetLastError();
      // A folder is refused like a held port; it is asked after only then.
      const DWORD attributes = code == ERROR_ACCESS_DENIED
                                   ? ::GetFileAttributesA(DevicePathForPort(port).c_str())
                                   : INVALID_FILE_ATTRIBUTES;
      *error = OpenErrorFromWin32(
          code, attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY));
      return nullptr;
    }
    *error = OpenError::kNone;
    return std::make_shared<Win32SerialDevice>(handle);
  }
};

}  // namespace

std::shared_ptr<SerialDeviceFactory> CreateSystemDeviceFactory() {
  return std::make_shared<Win32DeviceFactory>();
}

}  // namespace vestrel
