// Words shared between the window thread and the communication thread.
// Each is written by one side and read by the other; they are atomics so
// neither side ever needs a lock.
#pragma once

#include <atomic>

namespace ql {

struct ServerState {
    // Raised by STOP, EXIT and the window close; cleared when communication
    // starts. The command loop and the call wait return 27 when they see it.
    std::atomic<bool> stop_request{false};
    // Set by STOP (and by a failed start) so that the end of the
    // communication thread does not end the program.
    std::atomic<bool> no_exit{false};
    // "Activate Load": LOAD is enabled while communication is stopped.
    std::atomic<bool> activate_load{false};
    // -Z: minimise 5 s after start; a port failure cancels it.
    std::atomic<bool> minimize_pending{false};
    // A worker thread (communication or cradle search) is running.
    std::atomic<bool> worker_running{false};
    // Identifier of the thread that started the program (shown in the log
    // at full verbosity).
    std::atomic<long> main_thread_id{0};
};

ServerState& server_state();

// Starts clean (every word false).
void server_state_reset();

}  // namespace ql
