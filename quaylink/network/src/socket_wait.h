// The stop-aware wait shared by the single-socket and watch-set waits.
#pragma once

#include <algorithm>
#include <cstdint>

#include "network/socket.h"
#include "platform/clock.h"

namespace ql {

// Calls wait(slice_ms) in slices of at most 200 ms until it returns non-zero
// or timeout_ms has passed, so that a stop request is seen while it blocks;
// after one, the wait goes on for at most kSocketStopGraceMs. Returns the
// last result of wait (0 when the time ran out).
template <typename Wait>
int wait_in_stop_slices(int timeout_ms, Wait wait) {
    constexpr int kSliceMs = 200;
    uint64_t deadline = platform::monotonic_ms64() + static_cast<uint64_t>(std::max(timeout_ms, 0));
    bool stop_seen = false;
    for (;;) {
        uint64_t now = platform::monotonic_ms64();
        if (!stop_seen && socket_stop_requested()) {
            stop_seen = true;
            deadline = std::min(deadline, now + kSocketStopGraceMs);
        }
        int left =
            now >= deadline ? 0 : static_cast<int>(std::min<uint64_t>(deadline - now, kSliceMs));
        int r = wait(left);
        if (r != 0 || left == 0) return r;
    }
}

}  // namespace ql
