// Windows implementation of platform/sockets.h on Winsock 2.
//
// Waits use select(): WSAPoll misreports a refused connect on older
// Windows (the socket never shows an error), and select's exception set is
// where Windows reports a connect that failed.
//
// Winsock has no per-call "do not wait" flag for stream sockets
// (MSG_DONTWAIT does not exist, MSG_PARTIAL is for message sockets), and a
// blocking send waits until all its bytes are in the buffer. So the calls
// that must never wait switch the socket to non-blocking mode (FIONBIO)
// around the one call and back. Every socket made here is blocking outside
// those calls, so switching back to blocking restores it.

// The server's watch set holds up to 64 sockets; select() takes arrays of
// this size, so a caller's longer list fits too.
#define FD_SETSIZE 256

// winsock2.h has to come before windows.h.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/sockets.h"
#include "win32_support.h"

#include "socket_addresses.inc"

namespace platform {

namespace {

// Stores the errno value for the last Winsock error (or for code) and
// returns -1, the failure result of most functions here.
int fail_wsa(int code) {
    errno = win32::errno_from_win32(static_cast<unsigned long>(code));
    return -1;
}

int fail_wsa() {
    return fail_wsa(WSAGetLastError());
}

SOCKET as_socket(SocketHandle s) {
    return static_cast<SOCKET>(s);
}

// Winsock must be started before any other call. Callers start it through
// socket_library_start; the functions that can be called first start it
// once more for the life of the process, so that a call made without it
// fails only for a real reason.
bool ensure_started() {
    static std::once_flag once;
    static bool started = false;
    std::call_once(once, [] {
        WSADATA data;
        started = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    });
    return started;
}

int set_non_blocking(SOCKET s, bool on) {
    u_long mode = on ? 1 : 0;
    return ioctlsocket(s, FIONBIO, &mode) == 0 ? 0 : -1;
}

timeval to_timeval(int ms) {
    if (ms < 0) ms = 0;
    timeval tv;
    tv.tv_sec = ms / 1000;
    tv.tv_usec = (ms % 1000) * 1000;
    return tv;
}

// Handles made here are not handed to the programs the server starts.
void keep_from_children(SOCKET s) {
    SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
}

// Runs call with the socket non-blocking and puts it back to blocking;
// the error of the call (not of the mode switches) is what errno tells.
template <typename Call>
long without_waiting(SOCKET s, Call call) {
    if (set_non_blocking(s, true) != 0) return fail_wsa();
    int n = call();
    int error = n == SOCKET_ERROR ? WSAGetLastError() : 0;
    set_non_blocking(s, false);
    if (n == SOCKET_ERROR) return fail_wsa(error);
    return n;
}

}  // namespace

int socket_library_start(int& major, int& minor) {
    // The server's socket layer asks for version 1.1 and insists on it;
    // Winsock 2 serves such a start, and every call made here works under
    // it (the Winsock 2 functions come from the same library either way).
    WSADATA data;
    int rc = WSAStartup(MAKEWORD(1, 1), &data);
    if (rc != 0) return fail_wsa(rc);
    major = LOBYTE(data.wVersion);
    minor = HIBYTE(data.wVersion);
    return 0;
}

void socket_library_stop() {
    WSACleanup();
}

int resolve_ipv4(const std::string& name, uint8_t out[4]) {
    if (name.empty() || !ensure_started()) {
        errno = EHOSTUNREACH;
        return -1;
    }
    std::vector<IpAddress> found;
    if (resolve(name, AF_INET, found) != 0) return -1;
    std::memcpy(out, found.front().bytes, 4);
    return 0;
}

int resolve_host(const std::string& name, std::vector<IpAddress>& out) {
    out.clear();
    if (name.empty() || !ensure_started()) {
        errno = EHOSTUNREACH;
        return -1;
    }
    return resolve(name, AF_UNSPEC, out);
}

int service_port(const std::string& name) {
    if (name.empty() || !ensure_started()) return 0;
    // getservbyname's result lives in per-thread storage: read it at once.
    const servent* found = getservbyname(name.c_str(), "tcp");
    if (found == nullptr) return 0;
    return ntohs(static_cast<u_short>(found->s_port));
}

int local_host_name(std::string& out, size_t max_length) {
    if (!ensure_started()) return fail_wsa(WSANOTINITIALISED);
    // Windows host names are short, but take what the caller allows.
    std::vector<char> name(max_length + 1 > 256 ? max_length + 1 : 256, '\0');
    if (gethostname(name.data(), static_cast<int>(name.size())) != 0) return fail_wsa();
    name[max_length] = '\0';
    out = name.data();
    return 0;
}

SocketHandle socket_create_tcp() {
    return socket_create_tcp_for(4);
}

SocketHandle socket_create_tcp_for(int family) {
    if (!ensure_started()) {
        fail_wsa(WSANOTINITIALISED);
        return kNoSocket;
    }
    const int af = family == 6 ? AF_INET6 : AF_INET;
    SOCKET s = WSASocketW(af, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                          WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    if (s == INVALID_SOCKET && WSAGetLastError() == WSAEINVAL) {
        // Before Windows 7 SP1 the flag is unknown: clear inheritance after.
        s = WSASocketW(af, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_OVERLAPPED);
        if (s != INVALID_SOCKET) keep_from_children(s);
    }
    if (s == INVALID_SOCKET) {
        fail_wsa();
        return kNoSocket;
    }
    return static_cast<SocketHandle>(s);
}

int socket_connect(SocketHandle handle, const uint8_t address[4], int port, int timeout_ms) {
    return socket_connect_ip(handle, ipv4(address), port, timeout_ms);
}

int socket_connect_ip(SocketHandle handle, const IpAddress& address, int port, int timeout_ms) {
    // Non-blocking for the connect only, so that an unanswered connect ends
    // at the deadline instead of after the system's retries.
    SOCKET s = as_socket(handle);
    if (set_non_blocking(s, true) != 0) return fail_wsa();
    int sa_len = 0;
    sockaddr_storage sa = make_address(address, port, sa_len);
    int err = 0;
    if (connect(s, reinterpret_cast<sockaddr*>(&sa), sa_len) != 0) err = WSAGetLastError();
    if (err == WSAEWOULDBLOCK) {
        fd_set writable, failed;
        FD_ZERO(&writable);
        FD_ZERO(&failed);
        FD_SET(s, &writable);
        FD_SET(s, &failed);
        timeval tv = to_timeval(timeout_ms < 1 ? 1 : timeout_ms);
        int ready = select(0, nullptr, &writable, &failed, &tv);
        int len = sizeof err;
        if (ready == SOCKET_ERROR) {
            err = WSAGetLastError();
        } else if (ready == 0) {
            err = WSAETIMEDOUT;
        } else if (getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&err), &len) != 0) {
            err = WSAGetLastError();
        } else if (err == 0 && FD_ISSET(s, &failed)) {
            err = WSAECONNREFUSED;  // failed, and the reason was already taken
        }
    }
    set_non_blocking(s, false);
    if (err != 0) return fail_wsa(err);
    return 0;
}

int socket_bind(SocketHandle handle, const uint8_t address[4], int port) {
    return socket_bind_ip(handle, ipv4(address), port);
}

int socket_bind_ip(SocketHandle handle, const IpAddress& address, int port) {
    // No address option at all, on purpose. SO_REUSEADDR would let a second
    // socket bind the same port on Windows (and take its connections).
    // SO_EXCLUSIVEADDRUSE keeps a port from being bound again while a
    // connection accepted on it is still closing, which breaks "may be bound
    // again" for the rotating FTP data ports. Without either, Windows
    // refuses a second listener on the port and binds over TIME_WAIT.
    int sa_len = 0;
    sockaddr_storage sa = make_address(address, port, sa_len);
    if (bind(as_socket(handle), reinterpret_cast<sockaddr*>(&sa), sa_len) != 0) return fail_wsa();
    return 0;
}

int socket_listen(SocketHandle s, int backlog) {
    return listen(as_socket(s), backlog) == 0 ? 0 : fail_wsa();
}

SocketHandle socket_accept(SocketHandle listener) {
    SOCKET s = accept(as_socket(listener), nullptr, nullptr);
    if (s == INVALID_SOCKET) {
        fail_wsa();
        return kNoSocket;
    }
    keep_from_children(s);
    return static_cast<SocketHandle>(s);
}

int socket_set_blocking(SocketHandle s) {
    return set_non_blocking(as_socket(s), false) == 0 ? 0 : fail_wsa();
}

int socket_wait(SocketHandle handle, SocketEvent event, int timeout_ms) {
    // select() on Windows is not cut short by anything but readiness or an
    // error, so one call keeps the deadline.
    SOCKET s = as_socket(handle);
    fd_set wanted, failed;
    FD_ZERO(&wanted);
    FD_ZERO(&failed);
    FD_SET(s, &wanted);
    timeval tv = to_timeval(timeout_ms);
    int r;
    if (event == SocketEvent::kReadable) {
        // An error or a close shows in the read set; the exception set
        // would also report urgent data, which no receive here takes.
        r = select(0, &wanted, nullptr, nullptr, &tv);
    } else {
        FD_SET(s, &failed);  // a failed connect shows only here
        r = select(0, nullptr, &wanted, &failed, &tv);
    }
    if (r == SOCKET_ERROR) return fail_wsa();
    return r > 0 ? 1 : 0;
}

long socket_receive(SocketHandle handle, void* buffer, size_t capacity) {
    SOCKET s = as_socket(handle);
    int size = capacity > INT_MAX ? INT_MAX : static_cast<int>(capacity);
    return without_waiting(s, [&] { return recv(s, static_cast<char*>(buffer), size, 0); });
}

long socket_send(SocketHandle handle, const void* bytes, size_t length) {
    SOCKET s = as_socket(handle);
    int size = length > INT_MAX ? INT_MAX : static_cast<int>(length);
    return without_waiting(s, [&] { return send(s, static_cast<const char*>(bytes), size, 0); });
}

bool socket_would_block() {
    return errno == EWOULDBLOCK || errno == EAGAIN;
}

int socket_close(SocketHandle s) {
    return closesocket(as_socket(s)) == 0 ? 0 : fail_wsa();
}

int socket_local_ip(SocketHandle s, IpAddress& address, int& port) {
    sockaddr_storage sa{};
    int len = sizeof sa;
    if (getsockname(as_socket(s), reinterpret_cast<sockaddr*>(&sa), &len) != 0) return fail_wsa();
    if (!from_address(reinterpret_cast<sockaddr*>(&sa), address, port)) {
        errno = EAFNOSUPPORT;
        return -1;
    }
    return 0;
}

int sockets_wait_readable(const SocketHandle* sockets, int count, int timeout_ms, bool* ready) {
    if (count < 0 || count > FD_SETSIZE) {
        errno = EINVAL;
        return -1;
    }
    auto readable = std::make_unique<fd_set>();
    FD_ZERO(readable.get());
    for (int i = 0; i < count; ++i) FD_SET(as_socket(sockets[i]), readable.get());
    timeval tv = to_timeval(timeout_ms);
    int r;
    if (count == 0) {
        // select() refuses three empty sets; an empty watch only waits.
        Sleep(static_cast<DWORD>(timeout_ms < 0 ? 0 : timeout_ms));
        r = 0;
    } else {
        r = select(0, readable.get(), nullptr, nullptr, &tv);
    }
    if (r == SOCKET_ERROR) return fail_wsa();  // a closed handle in the set: EBADF
    int found = 0;
    for (int i = 0; i < count; ++i) {
        ready[i] = FD_ISSET(as_socket(sockets[i]), readable.get()) != 0;
        if (ready[i]) ++found;
    }
    return found;
}

}  // namespace platform
