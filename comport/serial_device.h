#pragma once
// The serial device as the port component sees it: the operations of a Win32
// comm handle, each reporting success or failure, so that every OS gets one
// backend behind the same calls. No OS types or headers here.

#include <cstdint>
#include <memory>
#include <string>

namespace vestrel {

// The device control block: field for field what the port hands to the device.
struct DeviceControlBlock {
  std::uint32_t DCBlength = 28;
  std::uint32_t BaudRate = 0;
  std::uint32_t Flags = 0;  // fBinary bit 0, fParity bit 1, fDtrControl bits 4-5, fRtsControl 12-13
  std::uint16_t XonLim = 0;
  std::uint16_t XoffLim = 0;
  std::uint8_t ByteSize = 0;
  std::uint8_t Parity = 0;    // 0 none, 1 odd, 2 even, 3 mark, 4 space
  std::uint8_t StopBits = 0;  // 0 one, 1 one and a half, 2 two
  char XonChar = 0;
  char XoffChar = 0;
  char ErrorChar = 0;
  char EofChar = 0;
  char EvtChar = 0;
};

inline constexpr std::uint32_t kDcbBinary = 0x0001;
inline constexpr std::uint32_t kDcbParity = 0x0002;
inline constexpr std::uint32_t kDcbDtrControlEnable = 0x0010;
inline constexpr std::uint32_t kDcbRtsControlEnable = 0x1000;

// Time-outs in milliseconds; the multipliers are per byte. kMaxDword as the
// read interval with both read totals 0 means "return at once with what has
// arrived".
struct CommTimeouts {
  std::uint32_t ReadIntervalTimeout = 0;
  std::uint32_t ReadTotalTimeoutMultiplier = 0;
  std::uint32_t ReadTotalTimeoutConstant = 0;
  std::uint32_t WriteTotalTimeoutMultiplier = 0;
  std::uint32_t WriteTotalTimeoutConstant = 0;
};

inline constexpr std::uint32_t kMaxDword = 0xFFFFFFFFu;

// Line events (device event mask).
inline constexpr std::uint32_t kEvRxChar = 0x0001;
inline constexpr std::uint32_t kEvTxEmpty = 0x0004;
inline constexpr std::uint32_t kEvCts = 0x0008;
inline constexpr std::uint32_t kEvDsr = 0x0010;
inline constexpr std::uint32_t kEvRlsd = 0x0020;
inline constexpr std::uint32_t kEvErr = 0x0080;
inline constexpr std::uint32_t kEvRing = 0x0100;
inline constexpr std::uint32_t kEvRx80Full = 0x0400;

// Line-error word.
inline constexpr std::uint32_t kCeRxOver = 0x0001;
inline constexpr std::uint32_t kCeOverrun = 0x0002;
inline constexpr std::uint32_t kCeRxParity = 0x0004;
inline constexpr std::uint32_t kCeFrame = 0x0008;
inline constexpr std::uint32_t kCeBreak = 0x0010;
inline constexpr std::uint32_t kCeTxFull = 0x0100;
inline constexpr std::uint32_t kCeIoe = 0x0400;
inline constexpr std::uint32_t kCeMode = 0x8000;

// Modem status word.
inline constexpr std::uint32_t kMsCtsOn = 0x0010;
inline constexpr std::uint32_t kMsDsrOn = 0x0020;
inline constexpr std::uint32_t kMsRingOn = 0x0040;
inline constexpr std::uint32_t kMsRlsdOn = 0x0080;

// Escape functions.
inline constexpr std::uint32_t kSetRts = 3;
inline constexpr std::uint32_t kClrRts = 4;
inline constexpr std::uint32_t kSetDtr = 5;
inline constexpr std::uint32_t kClrDtr = 6;

// Purge flags.
inline constexpr std::uint32_t kPurgeTxAbort = 0x0001;
inline constexpr std::uint32_t kPurgeRxAbort = 0x0002;
inline constexpr std::uint32_t kPurgeTxClear = 0x0004;
inline constexpr std::uint32_t kPurgeRxClear = 0x0008;

// What ended one wait for line events.
enum class WaitOutcome {
  kEvents,   // *events holds the line events that occurred (possibly none)
  kStopped,  // Stop() was called
  kHangUp,   // the device hung up or went away; waiting again would not block
  kFailed,   // the wait itself failed
};

// One thread's wait for the line events of the device's current mask.
class EventWaiter {
 public:
  virtual ~EventWaiter() = default;
  // Blocks until a watched event, a hang-up or Stop().
  virtual WaitOutcome Wait(std::uint32_t* events) = 0;
  // Any thread: ends the current or next Wait with kStopped, for good.
  virtual void Stop() = 0;
};

// An open serial device. Calls may come from the user-interface thread and the
// event thread at once (a transfer beside a pending wait). After Close() every
// call fails.
class SerialDevice {
 public:
  virtual ~SerialDevice() = default;

  virtual bool SetupComm(std::uint32_t in_queue, std::uint32_t out_queue) = 0;
  virtual bool SetCommState(const DeviceControlBlock& dcb) = 0;
  virtual bool SetCommTimeouts(const CommTimeouts& timeouts) = 0;
  virtual bool EscapeCommFunction(std::uint32_t function) = 0;
  virtual bool PurgeComm(std::uint32_t flags) = 0;
  virtual bool SetCommMask(std::uint32_t mask) = 0;
  // Fills the line-error word (and clears it on the device) and the bytes waiting.
  virtual bool ClearCommError(std::uint32_t* errors, std::uint32_t* in_queue) = 0;
  virtual bool GetCommModemStatus(std::uint32_t* status) = 0;

  // Transfers under the current time-outs. A write cut short by its time-out
  // succeeds with the smaller count.
  virtual bool Write(const char* data, std::uint32_t count, std::uint32_t* written) = 0;
  virtual bool Read(char* data, std::uint32_t count, std::uint32_t* read) = 0;

  virtual std::unique_ptr<EventWaiter> CreateEventWaiter() = 0;

  virtual void Close() = 0;
};

enum class OpenError {
  kNone,
  kNotFound,      // no such device
  kBusy,          // held by another program
  kAccessDenied,  // no permission
  kOther,
};

// Opens devices by port name ("COM3", "/dev/pts/4", "ttyUSB0").
class SerialDeviceFactory {
 public:
  virtual ~SerialDeviceFactory() = default;
  // Exclusive open; null with *error set on failure.
  virtual std::shared_ptr<SerialDevice> Open(const std::string& port, OpenError* error) = 0;
};

// The factory of this OS's backend.
std::shared_ptr<SerialDeviceFactory> CreateSystemDeviceFactory();

}  // namespace vestrel
