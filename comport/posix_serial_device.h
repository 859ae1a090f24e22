#pragma once
// Pieces of the POSIX serial backend that tests call directly.

#include <string>

#include "comport/serial_device.h"

namespace vestrel {

// "COMn" (n >= 1) is /dev/ttyS(n-1); a name starting with "/" is taken as a
// path; any other name is looked up under /dev/.
std::string DevicePathForPort(const std::string& port);

// The open error for an errno value of open() or of the exclusive lock.
OpenError OpenErrorFromErrno(int error);

}  // namespace vestrel
