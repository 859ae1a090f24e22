#pragma once
// A request of the system to end the program (on POSIX SIGTERM, as a shutdown
// or a service manager sends, and SIGHUP, as a closed session sends) taken as
// the operator's close request, so that a dialogue under way ends at its next
// command instead of being cut off in the middle.

#include <atomic>
#include <functional>

namespace vestrel::platform {

// From now on such a request sets stop at once (a dialogue looks at it at its
// command boundaries and serves no event loop meanwhile) and queues
// on_request for the user-interface thread. Once per process.
void ForwardTerminationRequests(std::atomic<bool>* stop, std::function<void()> on_request);

}  // namespace vestrel::platform
