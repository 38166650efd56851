// Windows side of the socket calls for servers that play the far end of a
// connection (platform/sockets.h, last section).
// winsock2.h has to come before windows.h.
#include <winsock2.h>

#include <windows.h>

#include <cerrno>

#include "platform/clock.h"
#include "platform/sockets.h"
#include "win32_support.h"

namespace platform {

namespace {

SOCKET as_socket(SocketHandle s) {
    return static_cast<SOCKET>(s);
}

int fail_wsa() {
    errno = win32::errno_from_win32(static_cast<unsigned long>(WSAGetLastError()));
    return -1;
}

// Bytes waiting unread, or -1 when the socket cannot tell.
long unread_bytes(SOCKET s) {
    u_long count = 0;
    return ioctlsocket(s, FIONREAD, &count) == 0 ? static_cast<long>(count) : -1;
}

// Looks without waiting and without taking anything: 1 when the connection
// has ended (closed by the peer with nothing unread, reset, or shut down
// here), 0 when not, -1 on error. The socket is non-blocking for the one
// look only (sockets of the layer are blocking otherwise).
int ended_now(SOCKET s) {
    u_long on = 1, off = 0;
    if (ioctlsocket(s, FIONBIO, &on) != 0) return fail_wsa();
    char byte;
    int n = recv(s, &byte, 1, MSG_PEEK);
    int code = n == SOCKET_ERROR ? WSAGetLastError() : 0;
    ioctlsocket(s, FIONBIO, &off);
    if (n == 0) return 1;
    if (n > 0 || code == WSAEWOULDBLOCK) return 0;
    if (code == WSAENOTSOCK || code == WSAEINVAL) {
        WSASetLastError(code);
        return fail_wsa();
    }
    return 1;  // reset, aborted, or shut down here
}

// With nothing unread: waits up to ms for the socket to turn readable, which
// then means a close, a reset or a first byte. Returns 1 for an end, 0 for
// none (time-out or a byte arrived), -1 on error.
int wait_for_end(SOCKET s, int ms) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(s, &readable);
    timeval limit{ms / 1000, (ms % 1000) * 1000};
    int r = select(0, &readable, nullptr, nullptr, &limit);
    if (r == SOCKET_ERROR) return fail_wsa();
    return r == 0 ? 0 : ended_now(s);
}

}  // namespace

int socket_set_no_delay(SocketHandle s) {
    BOOL on = TRUE;
    int rc = setsockopt(as_socket(s), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on),
                        sizeof on);
    return rc == 0 ? 0 : fail_wsa();
}

int socket_set_receive_buffer(SocketHandle s, int bytes) {
    int rc = setsockopt(as_socket(s), SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&bytes),
                        sizeof bytes);
    return rc == 0 ? 0 : fail_wsa();
}

int socket_shutdown(SocketHandle s) {
    return shutdown(as_socket(s), SD_BOTH) == 0 ? 0 : fail_wsa();
}

int socket_wait_hangup(SocketHandle s, int timeout_ms) {
    // Slices, so that bytes arriving during the wait do not turn it into a
    // busy loop: with bytes unread, readability says nothing about an end.
    constexpr int kSliceMs = 50;
    const uint64_t deadline =
        monotonic_ms64() + static_cast<uint64_t>(timeout_ms < 0 ? 0 : timeout_ms);
    for (;;) {
        uint64_t now = monotonic_ms64();
        int left = now >= deadline ? 0 : static_cast<int>(deadline - now);
        int slice = left < kSliceMs ? left : kSliceMs;
        long unread = unread_bytes(as_socket(s));
        if (unread < 0) return fail_wsa();
        int ended = unread == 0 ? ended_now(as_socket(s)) : 0;
        if (ended != 0) return ended;
        if (unread == 0) {
            int r = wait_for_end(as_socket(s), slice);
            if (r != 0) return r;
        } else if (slice > 0) {
            sleep_ms(static_cast<uint32_t>(slice));
        }
        if (left == 0) return 0;
    }
}

}  // namespace platform
