// What the Windows device code needs to know about platform::Event: the
// manual-reset event object, for WaitForMultipleObjects next to an
// overlapped read or a socket event.
#pragma once

#include <atomic>
#include <mutex>

#include "platform/event.h"

namespace platform {

struct Event::Impl {
    // The event object (a HANDLE), signalled exactly while the event is set;
    // null when it could not be created (then only flag tells, and waits
    // look at it in short slices).
    void* handle = nullptr;
    std::atomic<bool> flag{false};
    std::mutex mutex;  // keeps set and reset from interleaving flag and object
};

}  // namespace platform
