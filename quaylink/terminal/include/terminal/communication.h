// The communication thread: loads the settings, opens the line (waiting for
// a USB port or for modem calls where configured) and serves the terminal.
#pragma once

namespace ql {

// Thread procedure. Shows the line parameters, runs run_communication, resets
// the window items and, unless the no-exit flag is set, posts the exit
// command to the operator view.
void communication_thread();

// The communication loop: 0 when it ended normally (connection over, stop
// request), -1 when the port could not be opened or the modem initialised.
int run_communication();

}  // namespace ql
