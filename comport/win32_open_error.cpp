#include "comport/win32_open_error.h"

namespace vestrel {

OpenError OpenErrorFromWin32(std::uint32_t error) {
  switch (error) {
    case kWin32FileNotFound:
      return OpenError::kNotFound;
    case kWin32AccessDenied:
      return OpenError::kBusy;
    default:
      return OpenError::kOther;
  }
}

}  // namespace vestrel
