#pragma once
// The Win32 errors of opening a device, as the port component reports them.
// Plain numbers, no <windows.h>: every OS compiles and tests the mapping.

#include <cstdint>

#include "comport/serial_device.h"

namespace vestrel {

inline constexpr std::uint32_t kWin32FileNotFound = 2;   // ERROR_FILE_NOT_FOUND
inline constexpr std::uint32_t kWin32PathNotFound = 3;   // ERROR_PATH_NOT_FOUND
inline constexpr std::uint32_t kWin32AccessDenied = 5;   // ERROR_ACCESS_DENIED
inline constexpr std::uint32_t kWin32InvalidName = 123;  // ERROR_INVALID_NAME

// The one place where a Win32 error of CreateFileA on "\\.\COMn" becomes an
// open error: no such file, no such path and a name no device can have are a
// port that does not exist; a refused access is a port held by another
// program (share mode 0), unless the name is a folder's, which is no port at
// all; anything else goes on as an open without a device, whose first
// setting (SetupComm) then fails.
OpenError OpenErrorFromWin32(std::uint32_t error, bool names_a_folder = false);

}  // namespace vestrel
