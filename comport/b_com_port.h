#pragma once
// TBComPort: one serial device of the operating system with its line settings,
// string transfers and an event thread that hands line events to handlers.
//
// Every operation runs on the user-interface thread unless said otherwise.
// Failures raise EComPort with one message of the unit's table.

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <string>

#include "platform/exceptions.h"

namespace vestrel {

enum TBaudRate : std::uint8_t {
  br110,
  br300,
  br600,
  br1200,
  br2400,
  br4800,
  br9600,
  br14400,
  br19200,
  br38400,
  br56000,
  br57600,
  br115200,
  br128000,
  br256000
};
enum TByteSize : std::uint8_t { bs5, bs6, bs7, bs8 };
enum TParity : std::uint8_t { paNone, paOdd, paEven, paMark, paSpace };
enum TStopBits : std::uint8_t { sb1, sb1_5, sb2 };
enum TSyncMethod : std::uint8_t { smThreadSync, smWindowSync, smNone };

// The eight line events, by bit position.
enum TComEvent : std::uint8_t {
  evRxChar,
  evTxEmpty,
  evRing,
  evCTS,
  evDSR,
  evRLSD,
  evError,
  evRx80Full
};
// Line errors, by bit position.
enum TComError : std::uint8_t {
  ceFrame,
  ceRxParity,
  ceOverrun,
  ceBreak,
  ceIO,
  ceMode,
  ceRxOver,
  ceTxFull
};
// Modem input lines, by bit position.
enum TModemLine : std::uint8_t { mlCTS, mlDSR, mlRing, mlRLSD };

// A set of up to eight members of an enumeration, bit 0 first.
template <typename E>
class TSmallSet {
 public:
  constexpr TSmallSet() = default;
  constexpr TSmallSet(std::initializer_list<E> members) {
    for (E m : members) Include(m);
  }
  static constexpr TSmallSet FromBits(std::uint8_t bits) {
    TSmallSet s;
    s.bits_ = bits;
    return s;
  }
  constexpr std::uint8_t Bits() const { return bits_; }
  constexpr bool Contains(E m) const { return (bits_ >> static_cast<unsigned>(m)) & 1u; }
  constexpr bool Empty() const { return bits_ == 0; }
  constexpr void Include(E m) {
    bits_ = static_cast<std::uint8_t>(bits_ | (1u << static_cast<unsigned>(m)));
  }
  friend constexpr bool operator==(TSmallSet, TSmallSet) = default;

 private:
  std::uint8_t bits_ = 0;
};

using TComEvents = TSmallSet<TComEvent>;
using TComErrors = TSmallSet<TComError>;
using TModemLines = TSmallSet<TModemLine>;

// Device event mask <-> event set; flags outside the eight are dropped.
std::uint32_t EventsToMask(TComEvents events);
TComEvents EventsFromMask(std::uint32_t mask);
// The device flag value of one event (1, 4, 256, 8, 16, 32, 128, 1024).
std::uint32_t EventFlag(TComEvent event);
// The line-error word as a set; a parity error counts only when parity is on.
TComErrors ErrorsFromWord(std::uint32_t word, TParity parity);
TModemLines ModemLinesFromStatus(std::uint32_t status);
// The order in which pending events are handed on.
inline constexpr TComEvent kDeliveryOrder[8] = {evError, evRxChar, evTxEmpty, evRing,
                                                evCTS,   evDSR,    evRLSD,    evRx80Full};
// Line speed in bits per second.
std::uint32_t BaudRateValue(TBaudRate rate);

// The port's exception; its message is one entry of the table below
// (Windows-1251 text).
class EComPort : public platform::Exception {
 public:
  using platform::Exception::Exception;
};

// Windows-1251 messages of the unit.
namespace comport_messages {
const std::string& NoSuchPort();  // "Попытка открыть несуществующий COM-порт"
const std::string& PortBusy();           // "Порт занят другой программой"
const std::string& NoAccess();           // "Нет прав доступа к COM-порту"
const std::string& WriteError();         // "Ошибка записи в порт"
const std::string& ReadError();          // "Ошибка чтения из порта"
const std::string& BadAsync();           // "Недопустимый параметр Async"
const std::string& PurgeCommError();     // "Ошибка функции PurgeComm"
const std::string& SetCommStateError();  // "Ошибка функции SetCommState"
const std::string& SetCommTimeoutsError();
const std::string& SetupCommError();
const std::string& ClearCommErrorError();
const std::string& GetCommModemStatusError();
const std::string& EscapeCommFunctionError();
const std::string& PropertyWhileOpen();  // "Нельзя менять свойство, пока порт открыт"
}  // namespace comport_messages

class TBComPort;
class TComThread;
class NotifyWindow;
class SerialDevice;
class SerialDeviceFactory;
struct DeviceControlBlock;
struct CommTimeouts;

// The five device time-outs of a port, in milliseconds (multipliers per byte).
// A negative value means "no limit" (the device gets 4294967295).
class TComTimeouts {
 public:
  explicit TComTimeouts(TBComPort* owner = nullptr);
  // Copies take the five values only; the copy has no owner.
  TComTimeouts(const TComTimeouts& other);
  // Writes the five values straight in, without the setters: the owner's
  // device is not reconfigured.
  TComTimeouts& operator=(const TComTimeouts& other);
  void Assign(const TComTimeouts& source) { *this = source; }

  TBComPort* Owner() const { return owner_; }

  int ReadInterval() const { return read_interval_; }
  int ReadTotalMultiplier() const { return read_total_multiplier_; }
  int ReadTotalConstant() const { return read_total_constant_; }
  int WriteTotalMultiplier() const { return write_total_multiplier_; }
  int WriteTotalConstant() const { return write_total_constant_; }
  // A changed value is stored and applied to the owner's open device.
  void SetReadInterval(int value);
  void SetReadTotalMultiplier(int value);
  void SetReadTotalConstant(int value);
  void SetWriteTotalMultiplier(int value);
  void SetWriteTotalConstant(int value);

 private:
  void Changed();

  TBComPort* owner_;
  int read_interval_ = -1;
  int read_total_multiplier_ = 0;
  int read_total_constant_ = 0;
  int write_total_multiplier_ = 100;
  int write_total_constant_ = 1000;
};

// The device control block for these settings.
DeviceControlBlock BuildDeviceControlBlock(TBaudRate baud_rate, TByteSize byte_size, TParity parity,
                                           TStopBits stop_bits);
// The device time-out record: negative values become 4294967295.
CommTimeouts BuildCommTimeouts(const TComTimeouts& timeouts);

// One read or write: its event starts signalled, so waiting on a request for
// which nothing was started returns at once with 0.
struct IoRequest;

using TNotifyEvent = std::function<void(TBComPort* sender)>;
using TRxCharEvent = std::function<void(TBComPort* sender, int count)>;
using TComSignalEvent = std::function<void(TBComPort* sender, bool state)>;
using TComErrorEvent = std::function<void(TBComPort* sender, TComErrors errors)>;

class TBComPort {
 public:
  // POSIX device backend.
  TBComPort();
  // Devices come from the given factory (tests: a scripted fake device).
  explicit TBComPort(std::shared_ptr<SerialDeviceFactory> factory);
  TBComPort(const TBComPort&) = delete;
  TBComPort& operator=(const TBComPort&) = delete;
  // Closes an open port; never throws and releases everything even when a
  // step of Close fails.
  ~TBComPort();

  // Opens the device named by Port and starts the event thread; true.
  bool Open();
  // Stops the event thread and closes the device; true. On the user-interface
  // thread a delivery the thread has already asked for runs inside Close.
  // Called from one of the port's own handlers it completes at once and the
  // thread ends when that handler returns. After the device was lost the
  // steps it refuses are skipped.
  //
  // A lost device (hung up, removed) ends the event thread; the port then
  // closes itself on the user-interface thread and "Ошибка чтения из порта"
  // is reported once, so Connected turns false and the next Open opens the
  // device again.
  bool Close();
  bool Connected() const { return connected_; }

  // Writes the bytes unchanged; returns the bytes the device took (fewer when
  // the write time-out expired).
  int WriteStr(const std::string& s);
  // Reads at most count bytes into s (s ends up as long as the result),
  // the held ones (below) first.
  int ReadStr(std::string& s, int count);

  // From inside one of this port's handlers: moves the bytes that have
  // arrived meanwhile into the port's own buffer without handing them to
  // anyone, so that a handler can see what the modem answered before it acts.
  // They still count as received: InQueueCount counts them, ReadStr returns
  // them first, and once the handler has returned the event thread delivers
  // them (with whatever came after them) as received characters. Returns the
  // bytes newly held; anywhere else it holds nothing and returns nothing.
  std::string HoldInput();

  // Properties.
  TBaudRate BaudRate() const { return baud_rate_; }
  void SetBaudRate(TBaudRate value);
  TByteSize ByteSize() const { return byte_size_; }
  void SetByteSize(TByteSize value);
  int InBufSize() const { return in_buf_size_; }
  void SetInBufSize(int value);  // a positive odd value is stored as value - 1
  int OutBufSize() const { return out_buf_size_; }
  void SetOutBufSize(int value);
  TParity Parity() const { return parity_; }
  void SetParity(TParity value);
  // "COMn" is /dev/ttyS(n-1); a name starting with "/" is a device path; any
  // other name is looked up under /dev/.
  const std::string& Port() const { return port_; }
  void SetPort(const std::string& port);  // raises while open
  TSyncMethod SyncMethod() const { return sync_method_; }
  void SetSyncMethod(TSyncMethod value);  // raises for a new value while open
  TStopBits StopBits() const { return stop_bits_; }
  void SetStopBits(TStopBits value);
  TComTimeouts& Timeouts() { return *timeouts_; }
  const TComTimeouts& Timeouts() const { return *timeouts_; }
  void SetTimeouts(const TComTimeouts& value);  // copies, then applies
  TComEvents WatchedEvents() const { return watched_events_; }

  // Pushing settings to the open device (each does nothing while closed).
  void ApplyAllSettings();
  void ApplyQueueSizes();
  void ApplyLineControl();
  void ApplyTimeoutValues();
  void SetDtrLine(bool on);
  void SetRtsLine(bool on);
  void AbortTransfers();
  void OpenDevice();
  void CloseDevice();

  // Lower transfer operations. Start* runs the transfer; WaitIoRequest
  // returns its byte count.
  IoRequest* NewIoRequest();
  void FreeIoRequest(IoRequest* request);
  int StartWrite(const char* buffer, int count, IoRequest* request);
  int StartRead(char* buffer, int count, IoRequest* request);
  int StartWriteStr(const std::string& s, IoRequest* request);
  int StartReadStr(std::string& s, int count, IoRequest* request);
  int WaitIoRequest(IoRequest* request);

  // Bytes waiting in the input queue, held ones included.
  int InQueueCount();
  TModemLines ModemLines();

  // Runs the dispatcher of one event: the query behind it, then its handler
  // when bound. Called by the event thread's deliveries. An exception that
  // leaves a handler under smThreadSync or smNone goes to the application's
  // exception handler on the user-interface thread, and reception goes on.
  // The handlers may be called on the event thread only under smNone.
  void DispatchEvent(TComEvent event);

  // The hidden receiver's procedure (smWindowSync): message 1025 with an event
  // flag value as wparam dispatches that event while connected.
  static constexpr std::uint32_t kComEventMessage = 1025;

  TComSignalEvent OnCTSChange;
  TComSignalEvent OnDSRChange;
  TComErrorEvent OnError;
  TNotifyEvent OnRing;
  TComSignalEvent OnRLSDChange;
  TNotifyEvent OnRx80Full;
  TRxCharEvent OnRxChar;
  TNotifyEvent OnTxEmpty;

 private:
  friend class TComThread;
  friend class NotifyWindow;

  void DoRxChar();
  void DoTxEmpty();
  void DoRing();
  void DoSignal(const TComSignalEvent& handler, TModemLine line);
  void DoError();
  void DoRx80Full();
  void StopEventThread();
  void ForceClose() noexcept;
  // On the user-interface thread, after the event thread lost the device.
  void CloseLostDevice() noexcept;

  TBaudRate baud_rate_ = br9600;
  TByteSize byte_size_ = bs8;
  bool connected_ = false;
  TComEvents watched_events_;
  std::unique_ptr<TComThread> event_thread_;
  std::shared_ptr<SerialDevice> device_;
  int in_buf_size_ = 2048;
  int out_buf_size_ = 2048;
  TParity parity_ = paNone;
  std::string port_ = "COM2";
  TStopBits stop_bits_ = sb1;
  TSyncMethod sync_method_ = smThreadSync;
  std::unique_ptr<TComTimeouts> timeouts_;
  std::unique_ptr<NotifyWindow> notify_window_;
  std::shared_ptr<SerialDeviceFactory> factory_;
  // HoldInput's bytes; the handlers' thread and the user-interface thread may
  // both read the port (smNone).
  std::mutex held_mutex_;
  std::string held_input_;
};

}  // namespace vestrel
