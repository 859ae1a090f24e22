#include "comport/b_com_port.h"

#include <algorithm>
#include <exception>

#include "comport/com_thread.h"
#include "comport/notify_window.h"
#include "comport/serial_device.h"
#include "platform/cp1251.h"
#include "platform/events.h"
#include "platform/sync.h"

namespace vestrel {

namespace comport_messages {
// Each message is converted to Windows-1251 once, where it is defined.
#define VESTREL_MESSAGE(name, utf8)                                 \
  const std::string& name() {                                       \
    static const std::string text = platform::Cp1251FromUtf8(utf8); \
    return text;                                                    \
  }
VESTREL_MESSAGE(NoSuchPort, "Попытка открыть несуществующий COM-порт")
VESTREL_MESSAGE(PortBusy, "Порт занят другой программой")
VESTREL_MESSAGE(NoAccess, "Нет прав доступа к COM-порту")
VESTREL_MESSAGE(WriteError, "Ошибка записи в порт")
VESTREL_MESSAGE(ReadError, "Ошибка чтения из порта")
VESTREL_MESSAGE(BadAsync, "Недопустимый параметр Async")
VESTREL_MESSAGE(PurgeCommError, "Ошибка функции PurgeComm")
VESTREL_MESSAGE(SetCommStateError, "Ошибка функции SetCommState")
VESTREL_MESSAGE(SetCommTimeoutsError, "Ошибка функции SetCommTimeouts")
VESTREL_MESSAGE(SetupCommError, "Ошибка функции SetupComm")
VESTREL_MESSAGE(ClearCommErrorError, "Ошибка функции ClearCommError")
VESTREL_MESSAGE(GetCommModemStatusError, "Ошибка функции GetCommModemStatus")
VESTREL_MESSAGE(EscapeCommFunctionError, "Ошибка функции EscapeCommFunction")
VESTREL_MESSAGE(PropertyWhileOpen, "Нельзя менять свойство, пока порт открыт")
#undef VESTREL_MESSAGE
}  // namespace comport_messages

namespace {

[[noreturn]] void Raise(const std::string& message) {
  throw EComPort(message);
}

constexpr std::uint32_t kEventFlags[8] = {kEvRxChar, kEvTxEmpty, kEvRing, kEvCts,
                                          kEvDsr,    kEvRlsd,    kEvErr,  kEvRx80Full};

constexpr std::uint32_t kBaudTable[15] = {110,   300,   600,   1200,  2400,   4800,   9600,  14400,
                                          19200, 38400, 56000, 57600, 115200, 128000, 256000};

}  // namespace

std::uint32_t EventFlag(TComEvent event) {
  return kEventFlags[event & 7];
}

std::uint32_t EventsToMask(TComEvents events) {
  std::uint32_t mask = 0;
  for (unsigned i = 0; i < 8; ++i)
    if (events.Contains(static_cast<TComEvent>(i))) mask |= kEventFlags[i];
  return mask;
}

TComEvents EventsFromMask(std::uint32_t mask) {
  TComEvents events;
  for (unsigned i = 0; i < 8; ++i)
    if (mask & kEventFlags[i]) events.Include(static_cast<TComEvent>(i));
  return events;
}

TComErrors ErrorsFromWord(std::uint32_t word, TParity parity) {
  TComErrors errors;
  if (word & kCeFrame) errors.Include(ceFrame);
  if ((word & kCeRxParity) && parity != paNone) errors.Include(ceRxParity);
  if (word & kCeOverrun) errors.Include(ceOverrun);
  if (word & kCeRxOver) errors.Include(ceRxOver);
  if (word & kCeTxFull) errors.Include(ceTxFull);
  if (word & kCeBreak) errors.Include(ceBreak);
  if (word & kCeIoe) errors.Include(ceIO);
  if (word & kCeMode) errors.Include(ceMode);
  return errors;
}

TModemLines ModemLinesFromStatus(std::uint32_t status) {
  TModemLines lines;
  if (status & kMsCtsOn) lines.Include(mlCTS);
  if (status & kMsDsrOn) lines.Include(mlDSR);
  if (status & kMsRingOn) lines.Include(mlRing);
  if (status & kMsRlsdOn) lines.Include(mlRLSD);
  return lines;
}

std::uint32_t BaudRateValue(TBaudRate rate) {
  return rate < 15 ? kBaudTable[rate] : kBaudTable[br9600];
}

// ---------------------------------------------------------------------------
// TComTimeouts

TComTimeouts::TComTimeouts(TBComPort* owner) : owner_(owner) {}

TComTimeouts::TComTimeouts(const TComTimeouts& other) : owner_(nullptr) {
  *this = other;
}

TComTimeouts& TComTimeouts::operator=(const TComTimeouts& other) {
  read_interval_ = other.read_interval_;
  read_total_multiplier_ = other.read_total_multiplier_;
  read_total_constant_ = other.read_total_constant_;
  write_total_multiplier_ = other.write_total_multiplier_;
  write_total_constant_ = other.write_total_constant_;
  return *this;
}

void TComTimeouts::Changed() {
  if (owner_) owner_->ApplyTimeoutValues();
}

#define VESTREL_TIMEOUT_SETTER(Name, field) \
  void TComTimeouts::Set##Name(int value) { \
    if (value == field) return;             \
    field = value;                          \
    Changed();                              \
  }
VESTREL_TIMEOUT_SETTER(ReadInterval, read_interval_)
VESTREL_TIMEOUT_SETTER(ReadTotalMultiplier, read_total_multiplier_)
VESTREL_TIMEOUT_SETTER(ReadTotalConstant, read_total_constant_)
VESTREL_TIMEOUT_SETTER(WriteTotalMultiplier, write_total_multiplier_)
VESTREL_TIMEOUT_SETTER(WriteTotalConstant, write_total_constant_)
#undef VESTREL_TIMEOUT_SETTER

DeviceControlBlock BuildDeviceControlBlock(TBaudRate baud_rate, TByteSize byte_size, TParity parity,
                                           TStopBits stop_bits) {
  DeviceControlBlock dcb;
  dcb.DCBlength = 28;
  dcb.BaudRate = BaudRateValue(baud_rate);
  dcb.Flags = kDcbBinary | kDcbDtrControlEnable | kDcbRtsControlEnable;  // 4113
  if (parity != paNone) dcb.Flags |= kDcbParity;                         // 4115
  dcb.ByteSize = static_cast<std::uint8_t>(byte_size + 5);
  dcb.Parity = parity;
  dcb.StopBits = stop_bits;
  dcb.XonChar = 17;
  dcb.XoffChar = 19;
  return dcb;
}

CommTimeouts BuildCommTimeouts(const TComTimeouts& timeouts) {
  const auto dword = [](int value) {
    return value < 0 ? kMaxDword : static_cast<std::uint32_t>(value);
  };
  CommTimeouts t;
  t.ReadIntervalTimeout = dword(timeouts.ReadInterval());
  t.ReadTotalTimeoutMultiplier = dword(timeouts.ReadTotalMultiplier());
  t.ReadTotalTimeoutConstant = dword(timeouts.ReadTotalConstant());
  t.WriteTotalTimeoutMultiplier = dword(timeouts.WriteTotalMultiplier());
  t.WriteTotalTimeoutConstant = dword(timeouts.WriteTotalConstant());
  return t;
}

// ---------------------------------------------------------------------------
// IoRequest

struct IoRequest {
  platform::EventHandle event = platform::CreateNamedEvent("", true, true);
  std::uint8_t kind = 0;  // 0 write, 1 read
  bool ok = true;
  std::uint32_t bytes = 0;
};

// ---------------------------------------------------------------------------
// TBComPort

TBComPort::TBComPort() : TBComPort(CreateSystemDeviceFactory()) {}

TBComPort::TBComPort(std::shared_ptr<SerialDeviceFactory> factory)
    : watched_events_{evRxChar, evTxEmpty, evRing, evCTS, evDSR, evRLSD, evError, evRx80Full},
      timeouts_(std::make_unique<TComTimeouts>(this)),
      factory_(std::move(factory)) {}

TBComPort::~TBComPort() {
  try {
    Close();
  } catch (...) {
    // Destruction goes on past a failing step: everything is released below.
  }
  ForceClose();
}

bool TBComPort::Open() {
  if (connected_) return true;
  // A program that never marked its user-interface thread gets the thread
  // that opens the port: deliveries go there, and Close there serves them
  // instead of waiting for a thread that never will.
  platform::TakeUiThreadIfNone();
  OpenDevice();
  connected_ = true;
  try {
    ApplyAllSettings();
    if (sync_method_ == smWindowSync) notify_window_ = std::make_unique<NotifyWindow>(this);
    event_thread_ = std::make_unique<TComThread>(this);
  } catch (...) {
    notify_window_.reset();
    CloseDevice();
    connected_ = false;
    throw;
  }
  return connected_;
}

bool TBComPort::Close() {
  if (!connected_) return true;
  if (event_thread_ && event_thread_->DeviceLost()) {
    // The device is gone: the steps it refuses are skipped.
    try {
      SetDtrLine(false);
      SetRtsLine(false);
      AbortTransfers();
    } catch (const EComPort&) {
    }
  } else {
    SetDtrLine(false);
    SetRtsLine(false);
    AbortTransfers();
  }
  StopEventThread();
  notify_window_.reset();
  CloseDevice();
  connected_ = false;
  return true;
}

void TBComPort::StopEventThread() {
  if (!event_thread_) return;
  // From inside one of the port's own deliveries the thread is waiting for
  // (or running) this very handler: it is let go and ends once it returns.
  if (event_thread_->DeliveringHere()) event_thread_->Detach();
  event_thread_.reset();
}

void TBComPort::ForceClose() noexcept {
  try {
    StopEventThread();
  } catch (...) {
  }
  notify_window_.reset();
  if (device_) device_->Close();
  device_.reset();
  connected_ = false;
}

void TBComPort::CloseLostDevice() noexcept {
  try {
    Close();
  } catch (...) {
    ForceClose();
  }
}

void TBComPort::OpenDevice() {
  OpenError error = OpenError::kOther;
  device_ = factory_ ? factory_->Open(port_, &error) : nullptr;
  if (device_) return;
  switch (error) {
    case OpenError::kNotFound:
      Raise(comport_messages::NoSuchPort());
    case OpenError::kBusy:
      Raise(comport_messages::PortBusy());
    case OpenError::kAccessDenied:
      Raise(comport_messages::NoAccess());
    default:
      break;  // goes on without a device; the first setting then fails
  }
}

void TBComPort::CloseDevice() {
  if (device_) device_->Close();
  device_.reset();
  std::lock_guard lock(held_mutex_);
  held_input_.clear();
}

// --- settings --------------------------------------------------------------

void TBComPort::SetBaudRate(TBaudRate value) {
  if (value == baud_rate_) return;
  baud_rate_ = value;
  ApplyLineControl();
}

void TBComPort::SetByteSize(TByteSize value) {
  if (value == byte_size_) return;
  byte_size_ = value;
  ApplyLineControl();
}

void TBComPort::SetParity(TParity value) {
  if (value == parity_) return;
  parity_ = value;
  ApplyLineControl();
}

void TBComPort::SetStopBits(TStopBits value) {
  if (value == stop_bits_) return;
  stop_bits_ = value;
  ApplyLineControl();
}

namespace {
int EvenQueueSize(int value) {
  return value > 0 && value % 2 != 0 ? value - 1 : value;
}
}  // namespace

void TBComPort::SetInBufSize(int value) {
  if (value == in_buf_size_) return;
  in_buf_size_ = EvenQueueSize(value);
  ApplyQueueSizes();
}

void TBComPort::SetOutBufSize(int value) {
  if (value == out_buf_size_) return;
  out_buf_size_ = EvenQueueSize(value);
  ApplyQueueSizes();
}

void TBComPort::SetPort(const std::string& port) {
  if (connected_) Raise(comport_messages::PropertyWhileOpen());
  port_ = port;
}

void TBComPort::SetSyncMethod(TSyncMethod value) {
  if (value == sync_method_) return;
  if (connected_) Raise(comport_messages::PropertyWhileOpen());
  sync_method_ = value;
}

void TBComPort::SetTimeouts(const TComTimeouts& value) {
  *timeouts_ = value;
  ApplyTimeoutValues();
}

void TBComPort::ApplyAllSettings() {
  ApplyQueueSizes();
  ApplyLineControl();
  ApplyTimeoutValues();
}

void TBComPort::ApplyQueueSizes() {
  if (!connected_) return;
  if (!device_ || !device_->SetupComm(static_cast<std::uint32_t>(in_buf_size_),
                                      static_cast<std::uint32_t>(out_buf_size_)))
    Raise(comport_messages::SetupCommError());
}

void TBComPort::ApplyLineControl() {
  if (!connected_) return;
  const DeviceControlBlock dcb =
      BuildDeviceControlBlock(baud_rate_, byte_size_, parity_, stop_bits_);
  if (!device_ || !device_->SetCommState(dcb)) Raise(comport_messages::SetCommStateError());
}

void TBComPort::ApplyTimeoutValues() {
  if (!connected_) return;
  if (!device_ || !device_->SetCommTimeouts(BuildCommTimeouts(*timeouts_)))
    Raise(comport_messages::SetCommTimeoutsError());
}

void TBComPort::SetDtrLine(bool on) {
  if (!device_ || !device_->EscapeCommFunction(on ? kSetDtr : kClrDtr))
    Raise(comport_messages::EscapeCommFunctionError());
}

void TBComPort::SetRtsLine(bool on) {
  if (!device_ || !device_->EscapeCommFunction(on ? kSetRts : kClrRts))
    Raise(comport_messages::EscapeCommFunctionError());
}

void TBComPort::AbortTransfers() {
  if (!device_ || !device_->PurgeComm(kPurgeTxAbort | kPurgeRxAbort))
    Raise(comport_messages::PurgeCommError());
}

// --- transfers -------------------------------------------------------------

IoRequest* TBComPort::NewIoRequest() {
  return new IoRequest;
}

void TBComPort::FreeIoRequest(IoRequest* request) {
  delete request;
}

int TBComPort::StartWrite(const char* buffer, int count, IoRequest* request) {
  if (!request) Raise(comport_messages::BadAsync());
  request->kind = 0;
  request->event->Reset();
  request->bytes = 0;
  request->ok = count >= 0 && device_ &&
                device_->Write(buffer, static_cast<std::uint32_t>(count), &request->bytes);
  request->event->Set();
  if (!request->ok) Raise(comport_messages::WriteError());
  return static_cast<int>(request->bytes);
}

int TBComPort::StartRead(char* buffer, int count, IoRequest* request) {
  if (!request) Raise(comport_messages::BadAsync());
  request->kind = 1;
  request->event->Reset();
  request->bytes = 0;
  request->ok = count >= 0 && device_ &&
                device_->Read(buffer, static_cast<std::uint32_t>(count), &request->bytes);
  request->event->Set();
  if (!request->ok) Raise(comport_messages::ReadError());
  return static_cast<int>(request->bytes);
}

int TBComPort::StartWriteStr(const std::string& s, IoRequest* request) {
  if (s.empty()) return 0;
  return StartWrite(s.data(), static_cast<int>(s.size()), request);
}

int TBComPort::StartReadStr(std::string& s, int count, IoRequest* request) {
  s.assign(count > 0 ? static_cast<std::size_t>(count) : 0, '\0');
  if (count <= 0) return 0;
  return StartRead(s.data(), count, request);
}

int TBComPort::WaitIoRequest(IoRequest* request) {
  if (!request) Raise(comport_messages::BadAsync());
  if (request->event->Wait(platform::kInfinite) != platform::WaitResult::Signaled || !request->ok)
    Raise(request->kind == 1 ? comport_messages::ReadError() : comport_messages::WriteError());
  return static_cast<int>(request->bytes);
}

namespace {
struct RequestDeleter {
  TBComPort* port;
  void operator()(IoRequest* request) const { port->FreeIoRequest(request); }
};
}  // namespace

int TBComPort::WriteStr(const std::string& s) {
  std::unique_ptr<IoRequest, RequestDeleter> request(NewIoRequest(), RequestDeleter{this});
  StartWriteStr(s, request.get());
  return WaitIoRequest(request.get());
}

int TBComPort::ReadStr(std::string& s, int count) {
  std::string held;
  {
    std::lock_guard lock(held_mutex_);
    const std::size_t taken =
        std::min(held_input_.size(), static_cast<std::size_t>(std::max(count, 0)));
    held = held_input_.substr(0, taken);
    held_input_.erase(0, taken);
  }
  if (!held.empty() && static_cast<int>(held.size()) == count) {
    s = std::move(held);
    return count;
  }
  std::unique_ptr<IoRequest, RequestDeleter> request(NewIoRequest(), RequestDeleter{this});
  try {
    StartReadStr(s, count - static_cast<int>(held.size()), request.get());
    const int n = WaitIoRequest(request.get());
    s.resize(static_cast<std::size_t>(n));
    s.insert(0, held);
    return static_cast<int>(s.size());
  } catch (...) {
    s.clear();  // no stale buffer bytes for a failed read
    if (!held.empty()) {
      // What was held stays for the next read.
      std::lock_guard lock(held_mutex_);
      held_input_.insert(0, held);
    }
    throw;
  }
}

std::string TBComPort::HoldInput() {
  if (!event_thread_ || !event_thread_->DeliveringHere()) return {};
  std::uint32_t errors = 0, in_queue = 0;
  if (!device_ || !device_->ClearCommError(&errors, &in_queue) || in_queue == 0) return {};
  std::string bytes(in_queue, '\0');
  std::uint32_t got = 0;
  if (!device_->Read(bytes.data(), in_queue, &got)) Raise(comport_messages::ReadError());
  bytes.resize(got);
  if (bytes.empty()) return {};
  {
    std::lock_guard lock(held_mutex_);
    held_input_ += bytes;
  }
  event_thread_->DeliverHeldInput();
  return bytes;
}

// --- queries and dispatchers ----------------------------------------------

int TBComPort::InQueueCount() {
  std::size_t held = 0;
  {
    std::lock_guard lock(held_mutex_);
    held = held_input_.size();
  }
  std::uint32_t errors = 0, in_queue = 0;
  if (!device_ || !device_->ClearCommError(&errors, &in_queue)) {
    // Held bytes are still there to read after the device went away.
    if (held > 0) return static_cast<int>(held);
    Raise(comport_messages::ClearCommErrorError());
  }
  return static_cast<int>(held + in_queue);
}

TModemLines TBComPort::ModemLines() {
  std::uint32_t status = 0;
  if (!device_ || !device_->GetCommModemStatus(&status))
    Raise(comport_messages::GetCommModemStatusError());
  return ModemLinesFromStatus(status);
}

// Each handler is called through a copy: it may close or destroy the port,
// and nothing of the port is touched after it returns.
void TBComPort::DispatchEvent(TComEvent event) {
  switch (event) {
    case evRxChar:
      DoRxChar();
      break;
    case evTxEmpty:
      DoTxEmpty();
      break;
    case evRing:
      DoRing();
      break;
    case evCTS:
      DoSignal(OnCTSChange, mlCTS);
      break;
    case evDSR:
      DoSignal(OnDSRChange, mlDSR);
      break;
    case evRLSD:
      DoSignal(OnRLSDChange, mlRLSD);
      break;
    case evError:
      DoError();
      break;
    case evRx80Full:
      DoRx80Full();
      break;
  }
}

void TBComPort::DoRxChar() {
  const int count = InQueueCount();
  if (count > 0 && OnRxChar) {
    TRxCharEvent handler = OnRxChar;
    handler(this, count);
  }
}

void TBComPort::DoTxEmpty() {
  if (!OnTxEmpty) return;
  TNotifyEvent handler = OnTxEmpty;
  handler(this);
}

void TBComPort::DoRing() {
  if (!OnRing) return;
  TNotifyEvent handler = OnRing;
  handler(this);
}

void TBComPort::DoSignal(const TComSignalEvent& bound, TModemLine line) {
  if (!bound) return;
  TComSignalEvent handler = bound;
  const bool state = ModemLines().Contains(line);
  handler(this, state);
}

void TBComPort::DoError() {
  std::uint32_t word = 0, in_queue = 0;
  if (!device_ || !device_->ClearCommError(&word, &in_queue))
    Raise(comport_messages::ClearCommErrorError());
  const TComErrors errors = ErrorsFromWord(word, parity_);
  if (!errors.Empty() && OnError) {
    TComErrorEvent handler = OnError;
    handler(this, errors);
  }
}

void TBComPort::DoRx80Full() {
  if (!OnRx80Full) return;
  TNotifyEvent handler = OnRx80Full;
  handler(this);
}

}  // namespace vestrel
