// Termination requests from outside the program (Ctrl+C, a service stop).
#pragma once

#include <functional>

namespace platform {

// Calls handler on a thread of its own each time the process is asked to
// terminate (SIGINT or SIGTERM on POSIX). The requests are blocked in every
// thread created after this call, so call it before starting threads.
// Returns 0, or the error number when the watcher cannot be set up.
int on_termination_request(std::function<void()> handler);

}  // namespace platform
