// What the POSIX device code needs to know about platform::Event.
#pragma once

#include "platform/event.h"

namespace platform {

// The descriptor that poll() reports readable while the event is set, or
// -1 when the event has none (then poll the flag in short slices).
int event_fd(const Event& event);

}  // namespace platform
