#pragma once
// The Win32 errors of opening a device, as the port component reports them.
// Plain numbers, no <windows.h>: every OS compiles and tests the mapping.

#include <cstdint>

#include "comport/serial_device.h"

namespace vestrel {

inline constexpr std::uint32_t kWin32FileNotFound = 2;  // ERROR_FILE_NOT_FOUND
inline constexpr std::uint32_t kWin32AccessDenied = 5;  // ERROR_ACCESS_DENIED

// The one place where a Win32 error of CreateFileA on "\\.\COMn" becomes an
// open error: no such file is a port that does not exist, a refused access is a
// port held by another program (share mode 0), anything else goes on as an
// open without a device, whose first setting (SetupComm) then fails.
OpenError OpenErrorFromWin32(std::uint32_t error);

}  // namespace vestrel
