// Windows implementation of platform/display.h.
#include "platform/display.h"

#include <windows.h>

namespace platform {

bool display_available() {
    return true;
}

const char* display_hint() {
    return "no desktop for this session";
}

void release_own_console() {
    DWORD processes[2];
    // This process alone on its console: Windows made the console for it
    // when it was started from the desktop, and nobody reads it.
    if (GetConsoleProcessList(processes, 2) == 1) FreeConsole();
}

}  // namespace platform
