// TCP sockets over IPv4 and IPv6, OS-neutral.
//
// Error contract for the whole header: functions returning int give 0 (or a
// count / a handle) on success and -1 on failure, with the error number in
// platform::last_error(). IPv4 addresses are four bytes in network order
// (first byte = first dotted number), IPv6 addresses sixteen (IpAddress);
// ports are in host order. Error numbers are
// errno values (<cerrno>) on every OS (Winsock's codes are mapped).
//
// Handles are not inherited by programs the process starts. On Windows the
// functions that never wait switch the socket to non-blocking mode for the
// one call and back: a socket must not be used by two threads at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// A socket handle (a descriptor on POSIX, a SOCKET on Windows, both fit);
// kNoSocket marks a slot that holds none.
using SocketHandle = std::intptr_t;
inline constexpr SocketHandle kNoSocket = -1;

// Starts the socket library and reports the version it offers (major,
// minor). Returns 0 or -1. Start-ups nest; each successful one may be
// matched by socket_library_stop. On POSIX there is nothing to start and the
// version reported is 1.1. On Windows it starts Winsock asking for version
// 1.1, the version the server's socket layer requires, and reports what
// Winsock granted (1.1 from any Winsock 2).
int socket_library_start(int& major, int& minor);
void socket_library_stop();

// Parses a dotted IPv4 text ("10.1.2.3"). True and the bytes on success.
bool parse_ipv4(const std::string& text, uint8_t out[4]);

// Resolves a host name to its first IPv4 address. Returns 0 or -1.
int resolve_ipv4(const std::string& name, uint8_t out[4]);

// An IPv4 (family 4, first four bytes used) or IPv6 (family 6) address.
struct IpAddress {
    int family = 0;  // 0 = none
    uint8_t bytes[16] = {};
};

// Parses an address text: dotted IPv4 or IPv6 (no brackets, no zone).
// True and the address on success.
bool parse_ip(const std::string& text, IpAddress& out);

// The text of an address: dotted IPv4, or the shortest IPv6 form ("::1").
std::string ip_to_text(const IpAddress& address);

// Resolves a host name (an address text resolves to itself) through the
// system's resolver, IPv4 and IPv6 alike, in the order the resolver prefers,
// each address once. Returns 0 with at least one address, or -1.
int resolve_host(const std::string& name, std::vector<IpAddress>& out);

// Looks a TCP service name up in the system's service table ("ftp" -> 21).
// Returns the port, or 0 when the name is unknown.
int service_port(const std::string& name);

// The local host's name (at most max_length characters). Returns 0 or -1.
int local_host_name(std::string& out, size_t max_length);

// Creates an IPv4 stream socket. Returns the handle or kNoSocket.
SocketHandle socket_create_tcp();

// Creates a stream socket of the address family (4 or 6). Returns the
// handle or kNoSocket.
SocketHandle socket_create_tcp_for(int family);

// socket_connect, socket_bind and socket_local_address for either family
// (the socket's family must match the address's).
int socket_connect_ip(SocketHandle s, const IpAddress& address, int port, int timeout_ms);
int socket_bind_ip(SocketHandle s, const IpAddress& address, int port);
int socket_local_ip(SocketHandle s, IpAddress& address, int& port);

// Connects a socket, waiting at most timeout_ms (at least 1) for the
// outcome; a signal does not end the wait early. Returns 0, or -1 when the
// connect is refused, fails or does not complete in time (the socket is
// then unusable and must be closed). The socket stays blocking.
int socket_connect(SocketHandle s, const uint8_t address[4], int port, int timeout_ms);

// Binds a socket to an address and port; a port whose last connection is
// still winding down may be bound again. Returns 0 or -1 (EADDRINUSE while
// another socket listens on the port). On Windows that holds with no
// address option (SO_REUSEADDR would share the port, SO_EXCLUSIVEADDRUSE
// would hold it while a closed connection lingers); the price is that
// another program that sets SO_REUSEADDR itself can still bind the port.
int socket_bind(SocketHandle s, const uint8_t address[4], int port);

// Puts a bound socket into the listening state. Returns 0 or -1.
int socket_listen(SocketHandle s, int backlog);

// Waits for and accepts one connection. Returns the new handle or kNoSocket.
SocketHandle socket_accept(SocketHandle listener);

// Makes the socket blocking again. Returns 0 or -1.
int socket_set_blocking(SocketHandle s);

// What socket_wait waits for.
enum class SocketEvent {
    kReadable,  // data, an orderly close or an error is waiting
    kWritable,  // the send buffer has room, or an error is waiting
};

// Waits up to timeout_ms (0 = only look) for s to become readable or
// writable; a signal does not end the wait early, and nothing else does.
// Returns 1 when ready, 0 on time-out, -1 on error (also for a closed
// handle).
int socket_wait(SocketHandle s, SocketEvent event, int timeout_ms);

// One receive of at most capacity bytes that never waits, whatever the
// socket's blocking mode. Returns the count (0 = the peer closed the
// connection) or -1; socket_would_block() then tells whether nothing was
// waiting (as opposed to a broken connection).
long socket_receive(SocketHandle s, void* buffer, size_t capacity);

// One send that never waits: it takes what fits into the send buffer now
// (possibly less than length). Never raises a signal when the peer has
// gone. Returns the count sent or -1; socket_would_block() then tells
// whether the buffer was merely full.
long socket_send(SocketHandle s, const void* bytes, size_t length);

// True when the last failed socket_receive or socket_send of this thread
// failed only because it would have had to wait.
bool socket_would_block();

// Closes the socket. Returns 0 or -1.
int socket_close(SocketHandle s);

// The local address and port a socket is bound to. Returns 0 or -1.
int socket_local_address(SocketHandle s, uint8_t address[4], int& port);

// Waits up to timeout_ms for any of the sockets to become readable (a
// listening socket is readable when a connection waits to be accepted).
// ready[i] is set for each readable socket. Returns the number of readable
// sockets, 0 on time-out, -1 on error.
int sockets_wait_readable(const SocketHandle* sockets, int count, int timeout_ms, bool* ready);

// --- For servers that play the far end of a connection ---------------------

// Sends small segments at once instead of collecting them (no Nagle
// delay). Returns 0 or -1.
int socket_set_no_delay(SocketHandle s);

// Asks for a receive buffer of about bytes; the system may round it (Linux
// doubles it). Set before data arrives, it keeps the window the peer sees
// small, so that a peer sending into an unread connection soon finds no
// room. Returns 0 or -1.
int socket_set_receive_buffer(SocketHandle s, int bytes);

// Ends both directions of a connection without closing the handle: the
// peer sees the connection end, a receive here gives 0 or fails, and
// socket_wait_hangup reports the end. The handle must still be closed.
// Never waits. On POSIX a thread already waiting for readability on the
// handle wakes; Windows does not promise that (wine does not wake it), so
// a thread that must notice waits in slices. On a socket that is not
// connected (a listener) it may fail with ENOTCONN, harmlessly. Returns 0
// or -1.
int socket_shutdown(SocketHandle s);

// Waits up to timeout_ms (0 = only look) for the connection to end,
// without reading anything: bytes waiting unread do not end the wait.
// Returns 1 when the peer has closed its side or reset the connection (or
// the handle was shut down here), 0 on time-out, -1 on error. POSIX sees
// the peer's close behind unread bytes (POLLRDHUP). Windows cannot tell a
// close that waits behind unread bytes: there the wait ends on a reset, a
// local shutdown, or a close with nothing left unread.
int socket_wait_hangup(SocketHandle s, int timeout_ms);

}  // namespace platform
