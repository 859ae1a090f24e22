#include "comport/win32_open_error.h"

namespace vestrel {

OpenError OpenErrorFromWin32(std::uint32_t error, bool names_a_folder) {
  switch (error) {
    case kWin32FileNotFound:
    case kWin32PathNotFound:
    case kWin32InvalidName:
      return OpenError::kNotFound;
    case kWin32AccessDenied:
      return names_a_folder ? OpenError::kNotFound : OpenError::kBusy;
    default:
      return OpenError::kOther;
  }
}

}  // namespace vestrel
