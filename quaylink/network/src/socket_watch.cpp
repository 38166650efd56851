// The watch set: listening sockets a caller waits on with a time-out.
#include <algorithm>

#include "network/socket.h"
#include "platform/clock.h"
#include "socket_wait.h"

namespace ql {

namespace {

struct WatchSet {
    bool initialised = false;
    int count = 0;
    SocketHandle sockets[kWatchSetMax];
    // The sockets that were readable after the last wait.
    int ready_count = 0;
    SocketHandle ready[kWatchSetMax];
};

WatchSet g_watch;

// The wait in slices, so that a stop request is seen while it blocks; after
// one the wait goes on for at most kSocketStopGraceMs.
int wait_sliced(const SocketHandle* sockets, int count, int ms, bool* flags) {
    return wait_in_stop_slices(
        ms, [&](int left) { return platform::sockets_wait_readable(sockets, count, left, flags); });
}

}  // namespace

void watch_clear() {
    g_watch.count = 0;
    g_watch.ready_count = 0;
}

void watch_add(SocketHandle s) {
    if (!g_watch.initialised) {
        watch_clear();
        g_watch.initialised = true;
    }
    if (g_watch.count >= kWatchSetMax) return;
    g_watch.sockets[g_watch.count++] = s;
}

void watch_remove(SocketHandle s) {
    SocketHandle* end = g_watch.sockets + g_watch.count;
    SocketHandle* found = std::find(g_watch.sockets, end, s);
    if (found == end) return;
    std::copy(found + 1, end, found);
    --g_watch.count;
}

int watch_wait(int ms) {
    // The wait works on a copy, so that a socket removed afterwards still
    // reads as ready or not until the next wait.
    int count = g_watch.initialised ? g_watch.count : 0;
    bool flags[kWatchSetMax] = {};
    g_watch.ready_count = 0;
    int r = wait_sliced(g_watch.sockets, count, ms, flags);
    if (r <= 0) return r;
    for (int i = 0; i < count; ++i) {
        if (flags[i]) g_watch.ready[g_watch.ready_count++] = g_watch.sockets[i];
    }
    return r;
}

int watch_is_ready(SocketHandle s) {
    const SocketHandle* begin = g_watch.ready;
    const SocketHandle* end = begin + g_watch.ready_count;
    return std::find(begin, end, s) != end ? 1 : 0;
}

int watch_count() {
    return g_watch.initialised ? g_watch.count : 0;
}

SocketHandle watch_at(int i) {
    return (i >= 0 && i < watch_count()) ? g_watch.sockets[i] : kNoSocket;
}

void watch_reset() {
    g_watch = WatchSet{};
}

}  // namespace ql
