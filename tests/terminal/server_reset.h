// One reset of the whole server's process-wide state between tests that
// serve a terminal on a pty.
#pragma once

namespace testing_support {

// Log, settings, stop flags, modem, commands, field slots, transfers, both
// bridges and clients, sockets, progress and port state back to their
// start-up values; line waits at their real length.
void reset_everything();

}  // namespace testing_support
