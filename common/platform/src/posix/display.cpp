// POSIX implementation of platform/display.h.
#include "platform/display.h"

#include <cstdlib>

namespace platform {

namespace {

bool is_set(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
}

}  // namespace

bool display_available() {
    return is_set("DISPLAY") || is_set("WAYLAND_DISPLAY") || is_set("QT_QPA_PLATFORM");
}

const char* display_hint() {
    return "DISPLAY is not set";
}

void release_own_console() {}

}  // namespace platform
