// The Win32 backend under the port component. The line tests need a COM port
// with the modem simulator behind it, named in VESTREL_TEST_COM_PORT
// (scripts/test-windows links one in a wine prefix to the simulator's pty);
// without one they are skipped, the others run.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "comport/b_com_port.h"
#include "comport/serial_device.h"
#include "comport/win32_serial_device.h"
#include "support.h"

namespace vestrel {
namespace {

using test::RaisedBy;

bool UnderWine() {
  const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  return ntdll && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

std::uint32_t FlagWord(const DCB& dcb) {
  // The bit fields follow BaudRate as one 32-bit word.
  std::uint32_t word = 0;
  std::memcpy(&word, reinterpret_cast<const char*>(&dcb) + 2 * sizeof(DWORD), sizeof word);
  return word;
}

TEST(Win32Device, TheSystemDcbCarriesTheComponentsBlockBitForBit) {
  DeviceControlBlock block;
  block.BaudRate = 9600;
  block.Flags = 4113;
  block.ByteSize = 8;
  block.XonChar = 17;
  block.XoffChar = 19;
  DCB dcb = ToSystemDcb(block);
  EXPECT_EQ(dcb.DCBlength, 28u);
  EXPECT_EQ(dcb.BaudRate, 9600u);
  EXPECT_EQ(FlagWord(dcb), 4113u);
  EXPECT_EQ(dcb.fBinary, 1u);
  EXPECT_EQ(dcb.fParity, 0u);
  EXPECT_EQ(dcb.fDtrControl, static_cast<DWORD>(DTR_CONTROL_ENABLE));
  EXPECT_EQ(dcb.fRtsControl, static_cast<DWORD>(RTS_CONTROL_ENABLE));
  EXPECT_EQ(dcb.fOutxCtsFlow | dcb.fOutxDsrFlow | dcb.fOutX | dcb.fInX | dcb.fAbortOnError, 0u);
  EXPECT_EQ(dcb.ByteSize, 8);
  EXPECT_EQ(dcb.Parity, NOPARITY);
  EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
  EXPECT_EQ(dcb.XonChar, 17);
  EXPECT_EQ(dcb.XoffChar, 19);

  block.Flags = 4115;
  block.Parity = EVENPARITY;
  block.ByteSize = 7;
  block.StopBits = TWOSTOPBITS;
  block.BaudRate = 256000;
  dcb = ToSystemDcb(block);
  EXPECT_EQ(FlagWord(dcb), 4115u);
  EXPECT_EQ(dcb.fParity, 1u);
  EXPECT_EQ(dcb.Parity, EVENPARITY);
  EXPECT_EQ(dcb.ByteSize, 7);
  EXPECT_EQ(dcb.StopBits, TWOSTOPBITS);
  EXPECT_EQ(dcb.BaudRate, 256000u);
}

TEST(Win32Device, PortsAreOpenedThroughTheDevicePrefix) {
  EXPECT_EQ(DevicePathForPort("COM11"), "\\\\.\\COM11");
  EXPECT_EQ(DevicePathForPort("COM2"), "\\\\.\\COM2");
  // A path in the device namespace goes as given, not prefixed twice.
  EXPECT_EQ(DevicePathForPort("\\\\.\\COM12"), "\\\\.\\COM12");
  EXPECT_EQ(DevicePathForPort("\\\\.\\CNCA0"), "\\\\.\\CNCA0");
}

TEST(Win32Device, AMissingPortIsReportedAsMissing) {
  platform::SetUiThread();
  TBComPort port;
  port.SetPort("COM249");
  EXPECT_EQ(RaisedBy([&] { port.Open(); }), comport_messages::NoSuchPort());
  EXPECT_FALSE(port.Connected());
}

class SimulatorPort : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::SetUiThread();
    const char* name = std::getenv("VESTREL_TEST_COM_PORT");
    if (!name || !*name) GTEST_SKIP() << "no COM port with the simulator (VESTREL_TEST_COM_PORT)";
    port_name_ = name;
    port_.SetPort(port_name_);
  }

  // Sends the command and collects what the modem answers until "OK" or
  // "ERROR" ends it.
  std::string Ask(const std::string& command) {
    {
      std::lock_guard lock(m_);
      received_.clear();
    }
    EXPECT_EQ(port_.WriteStr(command), static_cast<int>(command.size()));
    EXPECT_TRUE(test::ServeUntilOr([&] {
      std::lock_guard lock(m_);
      return received_.find("OK\r\n") != std::string::npos ||
             received_.find("ERROR") != std::string::npos;
    }));
    std::lock_guard lock(m_);
    return received_;
  }

  void CollectReceived() {
    port_.OnRxChar = [this](TBComPort* sender, int count) {
      std::string s;
      const int n = sender->ReadStr(s, count);
      if (n != count) count_mismatch_ = true;
      std::lock_guard lock(m_);
      received_ += s;
    };
  }

  std::string port_name_;
  TBComPort port_;
  std::mutex m_;
  std::string received_;
  std::atomic<bool> count_mismatch_{false};
};

TEST_F(SimulatorPort, TheModemAnswersThroughOverlappedTransfersAndLineEvents) {
  for (TSyncMethod method : {smThreadSync, smNone}) {
    SCOPED_TRACE(static_cast<int>(method));
    port_.SetSyncMethod(method);
    CollectReceived();
    ASSERT_TRUE(port_.Open());
    EXPECT_EQ(Ask("AT\r"), "AT\r\r\nOK\r\n");
    EXPECT_EQ(Ask("AT+CMGF=0\r"), "AT+CMGF=0\r\r\nOK\r\n");
    const std::string storage = Ask("AT+CPMS?\r");
    EXPECT_NE(storage.find("+CPMS: "), std::string::npos) << storage;
    EXPECT_FALSE(count_mismatch_.load());
    EXPECT_EQ(port_.InQueueCount(), 0);
    // A cable without handshake lines: every modem line reads low.
    EXPECT_TRUE(port_.ModemLines().Empty());
    ASSERT_TRUE(port_.Close());
    EXPECT_FALSE(port_.Connected());
  }
}

TEST_F(SimulatorPort, ReadsReturnAtOnceWithWhatHasArrived) {
  ASSERT_TRUE(port_.Open());  // no OnRxChar: the bytes wait in the queue
  std::string s;
  // Interval MAXDWORD with both totals 0: at once, even with nothing there.
  EXPECT_EQ(port_.ReadStr(s, 10), 0);
  EXPECT_EQ(s, "");
  EXPECT_EQ(port_.WriteStr("ATE0\r"), 5);
  ASSERT_TRUE(test::ServeUntilOr([&] { return port_.InQueueCount() >= 11; }));
  EXPECT_EQ(port_.ReadStr(s, 100), 11);
  EXPECT_EQ(s, "ATE0\r\r\nOK\r\n");
  EXPECT_EQ(port_.WriteStr("ATE1\r"), 5);  // echo off: only the answer comes
  ASSERT_TRUE(test::ServeUntilOr([&] { return port_.InQueueCount() >= 6; }));
  EXPECT_EQ(port_.ReadStr(s, 100), 6);
  EXPECT_EQ(s, "\r\nOK\r\n");
  EXPECT_TRUE(port_.Close());
}

TEST_F(SimulatorPort, ThePortOpensAgainAfterClose) {
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(port_.Open());
    ASSERT_TRUE(port_.Close());
  }
}

// Windows refuses a second opener of a port opened with share mode 0
// (ERROR_ACCESS_DENIED). Wine does not enforce the share mode on a device:
// its second CreateFileA succeeds, so there is nothing to check under wine.
TEST_F(SimulatorPort, ASecondOpenerIsRefusedAsBusy) {
  if (UnderWine()) GTEST_SKIP() << "wine does not enforce share mode 0 on a device";
  ASSERT_TRUE(port_.Open());
  TBComPort second;
  second.SetPort(port_name_);
  EXPECT_EQ(RaisedBy([&] { second.Open(); }), comport_messages::PortBusy());
  EXPECT_FALSE(second.Connected());
  EXPECT_TRUE(port_.Close());
}

}  // namespace
}  // namespace vestrel
