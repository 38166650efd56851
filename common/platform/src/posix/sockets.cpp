// POSIX implementation of platform/sockets.h.
#include "platform/sockets.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "socket_addresses.inc"

namespace platform {

namespace {

// Retries a call that a signal interrupted.
template <typename F>
auto retry_eintr(F call) {
    for (;;) {
        auto r = call();
        if (r >= 0 || errno != EINTR) return r;
    }
}

}  // namespace

int socket_library_start(int& major, int& minor) {
    major = 1;
    minor = 1;
    return 0;
}

void socket_library_stop() {}

int resolve_ipv4(const std::string& name, uint8_t out[4]) {
    if (name.empty()) return -1;
    std::vector<IpAddress> found;
    if (resolve(name, AF_INET, found) != 0) return -1;
    std::memcpy(out, found.front().bytes, 4);
    return 0;
}

int resolve_host(const std::string& name, std::vector<IpAddress>& out) {
    out.clear();
    if (name.empty()) return -1;
    return resolve(name, AF_UNSPEC, out);
}

int service_port(const std::string& name) {
    if (name.empty()) return 0;
    servent entry{};
    servent* found = nullptr;
    char scratch[1024];
    if (::getservbyname_r(name.c_str(), "tcp", &entry, scratch, sizeof scratch, &found) != 0 ||
        found == nullptr)
        return 0;
    return ntohs(static_cast<uint16_t>(found->s_port));
}

int local_host_name(std::string& out, size_t max_length) {
    std::vector<char> name(max_length + 1, '\0');
    if (::gethostname(name.data(), max_length) != 0) return -1;
    name[max_length] = '\0';
    out = name.data();
    return 0;
}

SocketHandle socket_create_tcp() {
    return socket_create_tcp_for(4);
}

SocketHandle socket_create_tcp_for(int family) {
    int s = ::socket(family == 6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    return s < 0 ? kNoSocket : s;
}

int socket_connect(SocketHandle s, const uint8_t address[4], int port, int timeout_ms) {
    return socket_connect_ip(s, ipv4(address), port, timeout_ms);
}

int socket_connect_ip(SocketHandle s, const IpAddress& address, int port, int timeout_ms) {
    // Non-blocking for the connect only, so that an unanswered connect ends
    // at the deadline instead of after the system's minutes of retries.
    int flags = ::fcntl(s, F_GETFL);
    if (flags < 0 || ::fcntl(s, F_SETFL, flags | O_NONBLOCK) != 0) return -1;
    socklen_t sa_len = 0;
    sockaddr_storage sa = make_address(address, port, sa_len);
    int rc = ::connect(s, reinterpret_cast<sockaddr*>(&sa), sa_len);
    int err = rc == 0 ? 0 : errno;
    if (err == EINPROGRESS || err == EINTR) {
        int ready = socket_wait(s, SocketEvent::kWritable, timeout_ms < 1 ? 1 : timeout_ms);
        socklen_t len = sizeof err;
        if (ready < 0) {
            err = errno;
        } else if (ready == 0) {
            err = ETIMEDOUT;
        } else if (::getsockopt(s, SOL_SOCKET, SO_ERROR, &err, &len) != 0) {
            err = errno;
        }
    }
    ::fcntl(s, F_SETFL, flags);
    if (err != 0) {
        errno = err;
        return -1;
    }
    return 0;
}

int socket_bind(SocketHandle s, const uint8_t address[4], int port) {
    return socket_bind_ip(s, ipv4(address), port);
}

int socket_bind_ip(SocketHandle s, const IpAddress& address, int port) {
    // Without SO_REUSEADDR a fixed data port could not be listened on again
    // while the previous transfer's connection sits in TIME_WAIT.
    int on = 1;
    ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    socklen_t sa_len = 0;
    sockaddr_storage sa = make_address(address, port, sa_len);
    return ::bind(s, reinterpret_cast<sockaddr*>(&sa), sa_len) == 0 ? 0 : -1;
}

int socket_listen(SocketHandle s, int backlog) {
    return ::listen(s, backlog) == 0 ? 0 : -1;
}

SocketHandle socket_accept(SocketHandle listener) {
    int s = retry_eintr([&] { return ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC); });
    return s < 0 ? kNoSocket : s;
}

int socket_set_blocking(SocketHandle s) {
    int flags = ::fcntl(s, F_GETFL);
    if (flags < 0) return -1;
    return ::fcntl(s, F_SETFL, flags & ~O_NONBLOCK) == 0 ? 0 : -1;
}

int socket_wait(SocketHandle s, SocketEvent event, int timeout_ms) {
    const short wanted = event == SocketEvent::kReadable ? POLLIN : POLLOUT;
    if (timeout_ms < 0) timeout_ms = 0;
    // poll's own time-out restarts after a signal; count down instead, so
    // that signals cannot stretch the wait.
    timespec start{};
    ::clock_gettime(CLOCK_MONOTONIC, &start);
    int left = timeout_ms;
    for (;;) {
        pollfd p{static_cast<int>(s), wanted, 0};
        int r = ::poll(&p, 1, left);
        if (r > 0) {
            if (p.revents & POLLNVAL) {
                errno = EBADF;
                return -1;
            }
            return 1;  // an error or hang-up counts as ready: the next call reports it
        }
        if (r == 0) return 0;
        if (errno != EINTR) return -1;
        timespec now{};
        ::clock_gettime(CLOCK_MONOTONIC, &now);
        long long spent =
            (now.tv_sec - start.tv_sec) * 1000LL + (now.tv_nsec - start.tv_nsec) / 1000000;
        if (spent >= timeout_ms) return 0;
        left = static_cast<int>(timeout_ms - spent);
    }
}

long socket_receive(SocketHandle s, void* buffer, size_t capacity) {
    ssize_t n = retry_eintr([&] { return ::recv(s, buffer, capacity, MSG_DONTWAIT); });
    return n < 0 ? -1 : static_cast<long>(n);
}

long socket_send(SocketHandle s, const void* bytes, size_t length) {
    ssize_t n = retry_eintr([&] { return ::send(s, bytes, length, MSG_NOSIGNAL | MSG_DONTWAIT); });
    return n < 0 ? -1 : static_cast<long>(n);
}

bool socket_would_block() {
    return errno == EAGAIN || errno == EWOULDBLOCK;
}

int socket_close(SocketHandle s) {
    return ::close(s) == 0 ? 0 : -1;
}

int socket_local_ip(SocketHandle s, IpAddress& address, int& port) {
    sockaddr_storage sa{};
    socklen_t len = sizeof sa;
    if (::getsockname(s, reinterpret_cast<sockaddr*>(&sa), &len) != 0) return -1;
    if (!from_address(reinterpret_cast<sockaddr*>(&sa), address, port)) {
        errno = EAFNOSUPPORT;
        return -1;
    }
    return 0;
}

int sockets_wait_readable(const SocketHandle* sockets, int count, int timeout_ms, bool* ready) {
    // poll rather than select: a descriptor number above FD_SETSIZE must not
    // overrun a read set.
    std::vector<pollfd> fds(static_cast<size_t>(count > 0 ? count : 0));
    for (int i = 0; i < count; ++i)
        fds[static_cast<size_t>(i)] = {static_cast<int>(sockets[i]), POLLIN, 0};
    int r = retry_eintr(
        [&] { return ::poll(fds.data(), fds.size(), timeout_ms < 0 ? 0 : timeout_ms); });
    if (r < 0) return -1;
    for (const pollfd& p : fds) {
        if (p.revents & POLLNVAL) {  // a closed handle in the set, as select reports it
            errno = EBADF;
            return -1;
        }
    }
    for (int i = 0; i < count; ++i)
        ready[i] = (fds[static_cast<size_t>(i)].revents & (POLLIN | POLLERR | POLLHUP)) != 0;
    return r;
}

int socket_set_no_delay(SocketHandle s) {
    int on = 1;
    return ::setsockopt(static_cast<int>(s), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) == 0 ? 0
                                                                                            : -1;
}

int socket_set_receive_buffer(SocketHandle s, int bytes) {
    return ::setsockopt(static_cast<int>(s), SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes) == 0 ? 0
                                                                                               : -1;
}

int socket_shutdown(SocketHandle s) {
    return ::shutdown(static_cast<int>(s), SHUT_RDWR) == 0 ? 0 : -1;
}

int socket_wait_hangup(SocketHandle s, int timeout_ms) {
    pollfd p{static_cast<int>(s), POLLRDHUP, 0};
    int r = retry_eintr([&] { return ::poll(&p, 1, timeout_ms < 0 ? 0 : timeout_ms); });
    if (r < 0) return -1;
    if (r == 0) return 0;
    return (p.revents & (POLLRDHUP | POLLHUP | POLLERR | POLLNVAL)) != 0 ? 1 : 0;
}

}  // namespace platform
