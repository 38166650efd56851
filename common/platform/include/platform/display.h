// What a program needs from the OS to show a window instead of a console.
#pragma once

namespace platform {

// True when a window can be shown. POSIX: a display server is named
// (DISPLAY or WAYLAND_DISPLAY), or Qt is told which platform to draw on
// (QT_QPA_PLATFORM, "offscreen" for instance). Windows: always; every
// interactive session has a desktop (a service has none, but runs the
// server with --console).
bool display_available();

// The hint printed when display_available() is false: what to set.
const char* display_hint();

// Called by a program that shows its window instead of using its console.
// Windows: a console program started from Explorer or a shortcut gets a
// console window of its own, which would stand empty beside the window for
// the whole run; it is closed. A console shared with the shell that started
// the program stays, so that messages still reach it. POSIX: nothing (a
// terminal belongs to the shell).
void release_own_console();

}  // namespace platform
