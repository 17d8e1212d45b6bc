// Detached threads: the connection threads of the pipe server, the service thread and the
// start-up survey run on their own until they end, and nobody joins them.
#pragma once
#include <functional>

namespace platform {

// Runs `body` on a new detached thread. Throws std::system_error when the system cannot start
// one; `body` has not run then. An exception that leaves `body` ends the process, as it would
// on any thread of the broker.
void StartDetachedThread(std::function<void()> body);

}  // namespace platform
