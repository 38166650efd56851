// Entry of the communications server's window mode.
#pragma once

namespace ql {

// Runs the server with its operator window: reads -I and -Z from the
// command line, finds the program directory, shows the main window (with
// the first-run set-up when there is no usable settings file) and returns
// the program's exit code when the window has ended and the communication
// thread is over. Needs a display (or QT_QPA_PLATFORM=offscreen).
int run_window_app(int argc, char** argv);

}  // namespace ql
