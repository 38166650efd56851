// Loopback sockets for tests, on the platform's socket layer, so that the
// same helpers serve the Linux and the Windows build. The socket library is
// started by each call that makes a socket (start-ups nest and are never
// undone here: a test process keeps it to the end).
#pragma once

#include <cstdint>

#include "platform/sockets.h"

namespace testing_support {

inline constexpr uint8_t kLoopback[4] = {127, 0, 0, 1};

// A socket listening on 127.0.0.1 and a port the system picked, which is
// stored in port. Returns platform::kNoSocket (port 0) when that fails.
platform::SocketHandle listen_loopback(int& port, int backlog = 5);

// Two connected sockets over 127.0.0.1 (a socket pair that works on every
// system): client is the connecting end, server the accepted one. False,
// with both at platform::kNoSocket, when that fails.
bool loopback_pair(platform::SocketHandle& client, platform::SocketHandle& server);

// A loopback port nothing listens on: bound and released without a
// connection, so nothing lingers on it. 0 when no socket could be made.
int free_loopback_port();

}  // namespace testing_support
