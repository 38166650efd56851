// Termination requests from outside the program (Ctrl+C, a service stop).
#pragma once

#include <functional>

namespace platform {

// Calls handler on a thread of its own each time the process is asked to
// terminate (SIGINT or SIGTERM on POSIX). The requests are blocked in every
// thread created after this call, so call it before starting threads.
// Returns 0, or the error number when the watcher cannot be set up. A later
// call replaces the handler.
// Windows: the requests are Ctrl+C, Ctrl+Break, the console window being
// closed, logoff and shutdown; the handler runs on a thread the system
// starts for each request, one request at a time. After a close, logoff or
// shutdown request the system ends the process about 5 seconds later
// whatever the handler does (this side waits up to 4.5 s for the program to
// end by itself), so the handler should only ask the program to stop.
int on_termination_request(std::function<void()> handler);

}  // namespace platform
