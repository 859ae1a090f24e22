#include "platform/termination.h"

namespace vestrel::platform {

// A window program on Windows is asked to end through its windows
// (WM_CLOSE, WM_QUERYENDSESSION), which the window itself answers.
void ForwardTerminationRequests(std::atomic<bool>*, std::function<void()>) {}

}  // namespace vestrel::platform
