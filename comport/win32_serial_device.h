#pragma once
// Pieces of the Win32 serial backend that tests call directly.

#include <windows.h>

#include <string>

#include "comport/serial_device.h"

namespace vestrel {

// The path CreateFileA is given for a port: "\\.\" followed by the name.
std::string DevicePathForPort(const std::string& port);

// The system's DCB for the component's device control block, bit for bit.
DCB ToSystemDcb(const DeviceControlBlock& block);

}  // namespace vestrel
