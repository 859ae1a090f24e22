#include <windows.h>

#include "platform/messages.h"

namespace vestrel::platform {

void SleepMs(std::uint32_t ms) {
  ::Sleep(ms);
}

std::uint32_t TickCount() {
  return static_cast<std::uint32_t>(::GetTickCount());
}

}  // namespace vestrel::platform
