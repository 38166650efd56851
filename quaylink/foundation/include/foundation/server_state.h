// Words shared between the window thread and the communication thread.
// Each is written by one side and read by the other; they are atomics so
// neither side ever needs a lock.
#pragma once

#include <atomic>

#include "platform/event.h"

namespace ql {

// The operator's stop request: a word the communication thread looks at
// between steps, and an event its idle waits (a read between frames, the
// wait for a call or for the USB device) wake up on, so a stop is answered
// at once instead of at the end of the wait. Used like an atomic bool.
class StopRequest {
  public:
    StopRequest& operator=(bool on) {
        store(on);
        return *this;
    }
    void store(bool on) {
        // The word first when raising and last when lowering, so that a
        // waiter woken by the event always finds the word raised.
        if (on) {
            flag_ = true;
            event_.set();
        } else {
            event_.reset();
            flag_ = false;
        }
    }
    bool load() const { return flag_.load(); }
    operator bool() const { return load(); }
    const platform::Event& event() const { return event_; }

  private:
    std::atomic<bool> flag_{false};
    platform::Event event_;
};

struct ServerState {
    // Raised by STOP, EXIT and the window close; cleared when communication
    // starts. The command loop and the call wait return 27 when they see it.
    StopRequest stop_request;
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
