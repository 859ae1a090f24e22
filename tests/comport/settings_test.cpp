// TBComPort settings, opening and closing, against the scripted device.
#include <gtest/gtest.h>

#include "comport/b_com_port.h"
#include "comport/line_events.h"
#include "comport/serial_device.h"
#include "comport/testing/fake_serial_device.h"
#include "support.h"

namespace vestrel {
namespace {

using test::Cp;
using test::RaisedBy;
using testing::FakeDeviceFactory;
using testing::FakeSerialDevice;

class PortSettings : public ::testing::Test {
 protected:
  void SetUp() override { platform::SetUiThread(); }
  std::shared_ptr<FakeDeviceFactory> factory_ = std::make_shared<FakeDeviceFactory>();
  std::shared_ptr<FakeSerialDevice> Device() { return factory_->LastDevice(); }
};

// The first look only sets the baseline; each later change becomes one event
// until taken, and the error counters collect in the error word.
TEST(LineEvents, ChangesBetweenLooks) {
  LineEvents events;
  LineSample line;
  line.have_lines = line.have_counters = true;
  line.modem_status = kMsCtsOn;
  line.frame = 7;
  EXPECT_FALSE(events.Note(line));
  EXPECT_EQ(events.TakeEvents(), 0u);
  line.modem_status = kMsDsrOn | kMsRingOn;  // the ring line itself is no event
  line.frame = 8;
  line.overrun = 1;
  EXPECT_TRUE(events.Note(line));
  EXPECT_FALSE(events.Note(line));  // seen again: nothing new, nothing lost
  line.ring = 1;
  line.brk = 2;
  line.modem_status |= kMsRlsdOn;
  EXPECT_TRUE(events.Note(line));
  EXPECT_EQ(events.TakeEvents(), kEvCts | kEvDsr | kEvErr | kEvRing | kEvRlsd);
  EXPECT_EQ(events.TakeEvents(), 0u);
  EXPECT_EQ(events.TakeErrorWord(), kCeFrame | kCeOverrun | kCeBreak);
  EXPECT_EQ(events.TakeErrorWord(), 0u);
  LineSample unreadable;  // a failed look changes no baseline
  EXPECT_FALSE(events.Note(unreadable));
  EXPECT_FALSE(events.Note(line));
}

TEST(ComPortTables, DeviceControlBlock) {
  auto dcb = BuildDeviceControlBlock(br9600, bs8, paNone, sb1);
  EXPECT_EQ(dcb.DCBlength, 28u);
  EXPECT_EQ(dcb.BaudRate, 9600u);
  EXPECT_EQ(dcb.Flags, 4113u);
  EXPECT_EQ(dcb.ByteSize, 8);
  EXPECT_EQ(dcb.Parity, 0);
  EXPECT_EQ(dcb.StopBits, 0);
  EXPECT_EQ(dcb.XonChar, 17);
  EXPECT_EQ(dcb.XoffChar, 19);
  EXPECT_EQ(dcb.XonLim, 0);
  EXPECT_EQ(dcb.ErrorChar, 0);

  dcb = BuildDeviceControlBlock(br256000, bs7, paEven, sb2);
  EXPECT_EQ(dcb.Flags, 4115u);
  EXPECT_EQ(dcb.Parity, 2);
  EXPECT_EQ(dcb.ByteSize, 7);
  EXPECT_EQ(dcb.BaudRate, 256000u);
  EXPECT_EQ(dcb.StopBits, 2);
  EXPECT_EQ(BuildDeviceControlBlock(br110, bs5, paSpace, sb1_5).Parity, 4);

  const std::uint32_t rates[] = {110,   300,   600,   1200,  2400,   4800,   9600,  14400,
                                 19200, 38400, 56000, 57600, 115200, 128000, 256000};
  for (int i = 0; i < 15; ++i) EXPECT_EQ(BaudRateValue(static_cast<TBaudRate>(i)), rates[i]);
}

TEST(ComPortTables, TimeoutRecordAndMasks) {
  TComTimeouts t;
  t.SetReadInterval(-5);
  t.SetWriteTotalConstant(-1);
  const CommTimeouts c = BuildCommTimeouts(t);
  EXPECT_EQ(c.ReadIntervalTimeout, 4294967295u);
  EXPECT_EQ(c.ReadTotalTimeoutMultiplier, 0u);
  EXPECT_EQ(c.ReadTotalTimeoutConstant, 0u);
  EXPECT_EQ(c.WriteTotalTimeoutMultiplier, 100u);
  EXPECT_EQ(c.WriteTotalTimeoutConstant, 4294967295u);

  TBComPort port(std::make_shared<FakeDeviceFactory>());
  EXPECT_EQ(EventsToMask(port.WatchedEvents()), 1469u);
  EXPECT_EQ(EventsFromMask(0xFFFFFFFF), port.WatchedEvents());
  EXPECT_EQ(EventsFromMask(kEvRlsd | 0x0002 | 0x0040), TComEvents{evRLSD});

  EXPECT_EQ(ErrorsFromWord(kCeRxParity, paNone), TComErrors{});
  EXPECT_EQ(ErrorsFromWord(kCeRxParity, paOdd), TComErrors{ceRxParity});
  EXPECT_EQ(ErrorsFromWord(0x0800 | 0x0040, paEven), TComErrors{});
  EXPECT_EQ(
      ErrorsFromWord(kCeFrame | kCeOverrun | kCeRxOver | kCeTxFull | kCeBreak | kCeIoe | kCeMode,
                     paNone),
      (TComErrors{ceFrame, ceOverrun, ceRxOver, ceTxFull, ceBreak, ceIO, ceMode}));
  EXPECT_EQ(ModemLinesFromStatus(kMsCtsOn | kMsRlsdOn), (TModemLines{mlCTS, mlRLSD}));
  EXPECT_EQ(ModemLinesFromStatus(kMsDsrOn | kMsRingOn), (TModemLines{mlDSR, mlRing}));
}

TEST(ComPortTables, MessagesAreWindows1251) {
  EXPECT_EQ(comport_messages::NoSuchPort(), Cp("Попытка открыть несуществующий COM-порт"));
  EXPECT_EQ(comport_messages::PortBusy(), Cp("Порт занят другой программой"));
  EXPECT_EQ(comport_messages::NoAccess(), Cp("Нет прав доступа к COM-порту"));
  EXPECT_EQ(comport_messages::PropertyWhileOpen(), Cp("Нельзя менять свойство, пока порт открыт"));
  EXPECT_EQ(comport_messages::SetupCommError(),
            "\xCE\xF8\xE8\xE1\xEA\xE0 \xF4\xF3\xED\xEA\xF6\xE8\xE8 SetupComm");
}

TEST_F(PortSettings, DefaultsAndTimeoutCopies) {
  TBComPort port(factory_);
  EXPECT_EQ(port.BaudRate(), br9600);
  EXPECT_EQ(port.ByteSize(), bs8);
  EXPECT_EQ(port.Parity(), paNone);
  EXPECT_EQ(port.StopBits(), sb1);
  EXPECT_EQ(port.Port(), "COM2");
  EXPECT_EQ(port.SyncMethod(), smThreadSync);
  EXPECT_EQ(port.InBufSize(), 2048);
  EXPECT_EQ(port.OutBufSize(), 2048);
  EXPECT_FALSE(port.Connected());
  EXPECT_EQ(port.Timeouts().Owner(), &port);
  EXPECT_EQ(port.Timeouts().ReadInterval(), -1);
  EXPECT_EQ(port.Timeouts().WriteTotalMultiplier(), 100);
  EXPECT_EQ(port.Timeouts().WriteTotalConstant(), 1000);
  EXPECT_TRUE(factory_->OpenedPorts().empty());

  port.SetPort("ttyUSB0");
  ASSERT_TRUE(port.Open());
  auto dev = Device();
  dev->ClearCalls();

  // A copy keeps the values, not the owner, and reconfigures nothing.
  TComTimeouts other(port.Timeouts());
  EXPECT_EQ(other.Owner(), nullptr);
  other.SetReadTotalConstant(50);
  other.SetWriteTotalConstant(-1);
  EXPECT_EQ(dev->CountCalls(FakeSerialDevice::kSetCommTimeouts), 0);
  port.Timeouts().Assign(other);
  EXPECT_EQ(dev->CountCalls(FakeSerialDevice::kSetCommTimeouts), 0);
  EXPECT_EQ(port.Timeouts().ReadTotalConstant(), 50);

  other.SetReadTotalConstant(70);
  port.SetTimeouts(other);
  EXPECT_EQ(dev->CountCalls(FakeSerialDevice::kSetCommTimeouts), 1);
  EXPECT_EQ(dev->LastTimeouts().ReadTotalTimeoutConstant, 70u);
  EXPECT_EQ(dev->LastTimeouts().WriteTotalTimeoutConstant, 4294967295u);

  // Own setters apply a changed value only.
  port.Timeouts().SetReadInterval(-1);
  EXPECT_EQ(dev->CountCalls(FakeSerialDevice::kSetCommTimeouts), 1);
  port.Timeouts().SetReadInterval(-5);
  EXPECT_EQ(dev->CountCalls(FakeSerialDevice::kSetCommTimeouts), 2);
  EXPECT_EQ(dev->LastTimeouts().ReadIntervalTimeout, 4294967295u);
}

TEST_F(PortSettings, OpenAppliesEverythingInOrderAndCloseUndoesIt) {
  TBComPort port(factory_);
  port.SetBaudRate(br56000);  // closed: stored only
  port.SetParity(paMark);
  port.SetInBufSize(1001);
  EXPECT_EQ(port.InBufSize(), 1000);
  EXPECT_EQ(factory_->LastDevice(), nullptr);

  ASSERT_TRUE(port.Open());
  auto dev = Device();
  ASSERT_TRUE(test::ServeUntilOr([&] { return dev->WaitsStarted() >= 1; }));
  EXPECT_TRUE(port.Connected());
  EXPECT_TRUE(port.Open());  // already open: no second thread
  EXPECT_EQ(dev->WaitersCreated(), 1);
  EXPECT_EQ(factory_->OpenedPorts().size(), 1u);
  const auto opening = dev->Calls();
  const std::vector<std::string> expected_open = {"SetupComm(1000,2048)", "SetCommState",
                                                  "SetCommTimeouts", "SetCommMask(1469)",
                                                  "CreateEventWaiter"};
  EXPECT_EQ(opening, expected_open);
  EXPECT_EQ(dev->LastState().BaudRate, 56000u);
  EXPECT_EQ(dev->LastState().Parity, 3);
  EXPECT_EQ(dev->LastState().Flags, 4115u);

  dev->ClearCalls();
  EXPECT_TRUE(port.Close());
  const std::vector<std::string> expected_close = {"EscapeCommFunction(6)", "EscapeCommFunction(4)",
                                                   "PurgeComm(3)",          "SetCommMask(0)",
                                                   "PurgeComm(12)",         "Close"};
  EXPECT_EQ(dev->Calls(), expected_close);
  EXPECT_FALSE(port.Connected());
  dev->ClearCalls();
  EXPECT_TRUE(port.Close());
  EXPECT_TRUE(dev->Calls().empty());
}

TEST_F(PortSettings, SettersWhileOpen) {
  TBComPort port(factory_);
  port.SetPort("COM11");
  ASSERT_TRUE(port.Open());
  auto dev = Device();
  dev->ClearCalls();

  port.SetBaudRate(br9600);  // unchanged
  port.SetByteSize(bs8);
  EXPECT_EQ(dev->CountCalls(FakeSerialDevice::kSetCommState), 0);
  port.SetByteSize(bs7);
  port.SetStopBits(sb2);
  port.SetParity(paEven);
  port.SetBaudRate(br115200);
  EXPECT_EQ(dev->CountCalls(FakeSerialDevice::kSetCommState), 4);
  EXPECT_EQ(dev->LastState().ByteSize, 7);
  EXPECT_EQ(dev->LastState().StopBits, 2);
  EXPECT_EQ(dev->LastState().BaudRate, 115200u);

  port.SetInBufSize(2049);
  EXPECT_EQ(port.InBufSize(), 2048);
  port.SetOutBufSize(2047);
  EXPECT_EQ(port.OutBufSize(), 2046);
  port.SetOutBufSize(-3);
  EXPECT_EQ(port.OutBufSize(), -3);
  EXPECT_EQ(dev->Calls().back(), "SetupComm(2048,4294967293)");

  EXPECT_EQ(RaisedBy([&] { port.SetPort("COM11"); }), comport_messages::PropertyWhileOpen());
  EXPECT_EQ(RaisedBy([&] { port.SetPort("COM3"); }), comport_messages::PropertyWhileOpen());
  EXPECT_EQ(port.Port(), "COM11");
  EXPECT_EQ(RaisedBy([&] { port.SetSyncMethod(smThreadSync); }), "");
  EXPECT_EQ(RaisedBy([&] { port.SetSyncMethod(smNone); }), comport_messages::PropertyWhileOpen());
  EXPECT_EQ(port.SyncMethod(), smThreadSync);

  // A failing apply raises; the value stays stored.
  dev->FailCall(FakeSerialDevice::kSetCommState);
  EXPECT_EQ(RaisedBy([&] { port.SetBaudRate(br1200); }), comport_messages::SetCommStateError());
  EXPECT_EQ(port.BaudRate(), br1200);
  dev->FailCall(FakeSerialDevice::kSetupComm);
  EXPECT_EQ(RaisedBy([&] { port.SetInBufSize(10); }), comport_messages::SetupCommError());
  dev->FailCall(FakeSerialDevice::kSetCommTimeouts);
  EXPECT_EQ(RaisedBy([&] { port.Timeouts().SetReadTotalConstant(9); }),
            comport_messages::SetCommTimeoutsError());
  port.Close();
  port.SetPort("COM3");
  port.SetSyncMethod(smNone);
  EXPECT_EQ(port.Port(), "COM3");
  EXPECT_EQ(port.SyncMethod(), smNone);
}

TEST_F(PortSettings, OpenFailures) {
  TBComPort port(factory_);
  factory_->FailNextOpen(OpenError::kNotFound);
  EXPECT_EQ(RaisedBy([&] { port.Open(); }), comport_messages::NoSuchPort());
  EXPECT_FALSE(port.Connected());
  factory_->FailNextOpen(OpenError::kBusy);
  EXPECT_EQ(RaisedBy([&] { port.Open(); }), comport_messages::PortBusy());
  factory_->FailNextOpen(OpenError::kAccessDenied);
  EXPECT_EQ(RaisedBy([&] { port.Open(); }), comport_messages::NoAccess());
  // Any other open error shows up at the first setting.
  factory_->FailNextOpen(OpenError::kOther);
  EXPECT_EQ(RaisedBy([&] { port.Open(); }), comport_messages::SetupCommError());
  EXPECT_FALSE(port.Connected());
  EXPECT_EQ(factory_->LastDevice(), nullptr);

  // A settings failure closes the device again; a later Open starts afresh.
  ASSERT_TRUE(port.Open());
  port.Close();
  auto first = Device();
  EXPECT_TRUE(first->Closed());
  port.SetPort("COM5");
  class FailingStateFactory : public SerialDeviceFactory {
   public:
    std::shared_ptr<SerialDevice> Open(const std::string&, OpenError* error) override {
      device = std::make_shared<FakeSerialDevice>();
      device->FailCall(FakeSerialDevice::kSetCommState);
      *error = OpenError::kNone;
      return device;
    }
    std::shared_ptr<FakeSerialDevice> device;
  };
  auto failing = std::make_shared<FailingStateFactory>();
  TBComPort other(failing);
  EXPECT_EQ(RaisedBy([&] { other.Open(); }), comport_messages::SetCommStateError());
  EXPECT_FALSE(other.Connected());
  EXPECT_TRUE(failing->device->Closed());
  EXPECT_EQ(failing->device->WaitersCreated(), 0);
  EXPECT_EQ(failing->device->CountCalls(FakeSerialDevice::kSetCommTimeouts), 0);
}

TEST_F(PortSettings, CloseStopsAtAFailingStepAndDestructionStillReleases) {
  auto port = std::make_unique<TBComPort>(factory_);
  ASSERT_TRUE(port->Open());
  auto dev = Device();
  dev->FailCall(FakeSerialDevice::kEscapeCommFunction);
  EXPECT_EQ(RaisedBy([&] { port->Close(); }), comport_messages::EscapeCommFunctionError());
  EXPECT_TRUE(port->Connected());
  EXPECT_FALSE(dev->Closed());
  dev->FailCall(FakeSerialDevice::kEscapeCommFunction, false);
  dev->FailCall(FakeSerialDevice::kPurgeComm);
  EXPECT_EQ(RaisedBy([&] { port->Close(); }), comport_messages::PurgeCommError());
  EXPECT_TRUE(port->Connected());

  // Destruction with Close still failing: no exception, thread and device gone.
  dev->FailCall(FakeSerialDevice::kEscapeCommFunction);
  EXPECT_NO_THROW(port.reset());
  EXPECT_TRUE(dev->Closed());
  const auto calls = dev->Calls();
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "SetCommMask(0)"), 1);
}

TEST_F(PortSettings, TransfersAndQueries) {
  TBComPort port(factory_);
  std::string s = "old";
  // Never opened: the transfers fail with their messages.
  EXPECT_EQ(RaisedBy([&] { port.WriteStr("AT\r"); }), comport_messages::WriteError());
  EXPECT_EQ(RaisedBy([&] { port.ReadStr(s, 5); }), comport_messages::ReadError());
  EXPECT_EQ(port.WriteStr(""), 0);
  EXPECT_EQ(port.ReadStr(s, 0), 0);
  EXPECT_TRUE(s.empty());
  s = "x";
  EXPECT_EQ(port.ReadStr(s, -1), 0);
  EXPECT_TRUE(s.empty());
  EXPECT_EQ(RaisedBy([&] { port.StartWrite("a", 1, nullptr); }), comport_messages::BadAsync());
  EXPECT_EQ(RaisedBy([&] { port.WaitIoRequest(nullptr); }), comport_messages::BadAsync());
  EXPECT_EQ(RaisedBy([&] { port.InQueueCount(); }), comport_messages::ClearCommErrorError());

  ASSERT_TRUE(port.Open());
  auto dev = Device();
  EXPECT_EQ(port.WriteStr(std::string("AT\r\0\xFF", 5)), 5);
  EXPECT_EQ(dev->Written(), std::string("AT\r\0\xFF", 5));
  dev->LimitWrites(3);
  EXPECT_EQ(port.WriteStr("abcdef"), 3);  // cut short by the time-out: no failure
  dev->PushInput("hello");
  EXPECT_EQ(port.InQueueCount(), 5);
  EXPECT_EQ(port.ReadStr(s, 3), 3);
  EXPECT_EQ(s, "hel");
  EXPECT_EQ(port.ReadStr(s, 10), 2);
  EXPECT_EQ(s, "lo");
  dev->SetModemStatus(kMsDsrOn);
  EXPECT_EQ(port.ModemLines(), TModemLines{mlDSR});

  dev->FailCall(FakeSerialDevice::kWrite);
  dev->FailCall(FakeSerialDevice::kRead);
  dev->FailCall(FakeSerialDevice::kGetCommModemStatus);
  EXPECT_EQ(RaisedBy([&] { port.WriteStr("x"); }), comport_messages::WriteError());
  EXPECT_EQ(RaisedBy([&] { port.ReadStr(s, 1); }), comport_messages::ReadError());
  EXPECT_TRUE(s.empty());
  EXPECT_EQ(RaisedBy([&] { port.ModemLines(); }), comport_messages::GetCommModemStatusError());

  // A request that was never started reports 0 at once.
  IoRequest* r = port.NewIoRequest();
  EXPECT_EQ(port.WaitIoRequest(r), 0);
  port.FreeIoRequest(r);

  port.Close();
  EXPECT_EQ(RaisedBy([&] { port.WriteStr("x"); }), comport_messages::WriteError());
  EXPECT_EQ(RaisedBy([&] { port.ReadStr(s, 1); }), comport_messages::ReadError());
}

}  // namespace
}  // namespace vestrel
