// The one mapping from Win32 open errors to the port's messages. It is
// plain code on every OS; a Windows port held by another program is needed
// to see error 5 for real, and wine never refuses a second opener.
#include <gtest/gtest.h>

#include "comport/b_com_port.h"
#include "comport/win32_open_error.h"
#include "platform/sync.h"

namespace vestrel {
namespace {

TEST(Win32OpenError, FileNotFoundIsAMissingPortAndAccessDeniedABusyOne) {
  const struct {
    std::uint32_t error;
    bool folder;
    OpenError expected;
  } rows[] = {
      {2, false, OpenError::kNotFound},    // no such file
      {3, false, OpenError::kNotFound},    // no such path
      {123, false, OpenError::kNotFound},  // a name no device has
      {5, false, OpenError::kBusy},        // held by another program
      {5, true, OpenError::kNotFound},     // a folder: no port at all
  };
  for (const auto& row : rows)
    EXPECT_EQ(OpenErrorFromWin32(row.error, row.folder), row.expected) << row.error;
  // Sharing violation, device not ready, a bad unit, 0: none of these is
  // named by the port; they go on without a device.
  for (std::uint32_t other : {0u, 1u, 4u, 6u, 20u, 21u, 31u, 32u, 87u, 1167u})
    EXPECT_EQ(OpenErrorFromWin32(other), OpenError::kOther) << other;
}

// A factory whose opens fail with one Win32 error, mapped as the Win32
// backend maps it.
class Win32ErrorFactory : public SerialDeviceFactory {
 public:
  explicit Win32ErrorFactory(std::uint32_t error) : error_(error) {}
  std::shared_ptr<SerialDevice> Open(const std::string&, OpenError* error) override {
    *error = OpenErrorFromWin32(error_);
    return nullptr;
  }

 private:
  std::uint32_t error_;
};

std::string OpenMessage(std::uint32_t win32_error) {
  platform::SetUiThread();
  TBComPort port(std::make_shared<Win32ErrorFactory>(win32_error));
  try {
    port.Open();
  } catch (const EComPort& e) {
    EXPECT_FALSE(port.Connected());
    return e.what();
  }
  return "(no exception)";
}

TEST(Win32OpenError, TheOpenRaisesTheMessageOfTheTable) {
  EXPECT_EQ(OpenMessage(2), comport_messages::NoSuchPort());
  EXPECT_EQ(OpenMessage(5), comport_messages::PortBusy());
  EXPECT_EQ(OpenMessage(123), comport_messages::NoSuchPort());
  // Any other error reaches the caller as the first setting's failure.
  EXPECT_EQ(OpenMessage(32), comport_messages::SetupCommError());
}

}  // namespace
}  // namespace vestrel
