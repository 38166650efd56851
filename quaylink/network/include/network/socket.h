// The socket layer shared by every network client of the server: TCP over
// IPv4 and IPv6 with host and port resolution, a deadline on every connect,
// receive and send, the peer address (the address of the host most recently
// reached) and a watch set of listening sockets to wait on.
//
// No call waits longer than its deadline. Once the server is asked to stop
// (the stop request of foundation/server_state.h), a wait that would still
// have to block ends within kSocketStopGraceMs as if its deadline had
// passed, so a stalled peer cannot keep the program from ending.
//
// Every operation returns 0 on success and a small negative code on
// failure; nothing here logs or shows a message. All calls come from the
// communication thread; the peer address and the watch set are process-wide
// and unsynchronised. Sockets belong to the callers, who close them with
// tcp_close.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/sockets.h"

namespace ql {

using SocketHandle = platform::SocketHandle;
inline constexpr SocketHandle kNoSocket = platform::kNoSocket;

// Result codes of the layer.
namespace socket_result {
inline constexpr int kOk = 0;
inline constexpr int kLibraryStart = -2;    // the socket library cannot be started
inline constexpr int kLibraryVersion = -3;  // the library does not offer version 1.1
inline constexpr int kResolve = -4;         // host, port or local host name unavailable
inline constexpr int kSocket = -6;          // create, connect, bind, listen or accept failed
inline constexpr int kReceive = -7;         // a receive failed or timed out
inline constexpr int kSend = -8;            // a send failed (also: the peer has gone)
}  // namespace socket_result

// Most sockets a watch set holds; further watch_add calls are ignored.
inline constexpr int kWatchSetMax = 64;

// Deadlines: a connect that does not complete, and a send that finds no
// room in the send buffer (the peer does not read), fail after these.
inline constexpr int kSocketConnectTimeoutMs = 30000;
inline constexpr int kSocketSendTimeoutMs = 30000;
// How long a blocked wait goes on after a stop request.
inline constexpr int kSocketStopGraceMs = 1000;

// Opens a TCP connection to host (dotted IPv4 text, IPv6 text with or
// without brackets, or a host name) and port (service name or decimal
// number) and stores the socket in slot. A name is resolved to all its
// addresses, IPv4 and IPv6, and each is tried in the resolver's order, each
// connect waiting at most the connect time-out (kSocketConnectTimeoutMs
// unless tcp_set_connect_timeout changed it); a stop request ends the walk.
// The peer address becomes the dotted host text (unchanged) or the first
// address of the name as soon as the host is known, even when the connect
// then fails, and the address actually reached once connected. Returns 0,
// -2, -3, -4 (host or port unknown, port 0 or above 65535) or -6 (refused,
// failed or timed out at every address; no socket stays open).
int tcp_connect(SocketHandle& slot, const std::string& host, const std::string& port);

// The addresses the most recent tcp_connect tried, in order, separated by
// single spaces (empty when it got no address). For log lines.
std::string tcp_last_tried();

// host without the brackets of an IPv6 literal ("[::1]" gives "::1").
std::string strip_brackets(const std::string& host);

// Creates a socket listening (backlog 20) on host and port and stores it in
// slot. An empty host means the local host name. An address text (IPv4 or
// IPv6) is used as it stands; a name listens on its first address. Returns 0, -2, -3, -4 or -6
// (the socket is closed again when bind or listen fails).
int tcp_listen(SocketHandle& slot, const std::string& host, const std::string& port);

// Waits for and accepts one connection on listener, storing the new socket
// in out. Returns 0, or -6 after closing the listener.
int tcp_accept(SocketHandle listener, SocketHandle& out);

// One receive of at most capacity bytes, waiting at most timeout_ms for the
// first of them (0 = only take what is already there). Returns 0 with
// count > 0 (bytes read, at most what had arrived), 0 with count 0 (the peer
// closed the connection), or -7 with count 0 (error or time-out).
int tcp_receive(SocketHandle s, void* buffer, size_t capacity, int timeout_ms, int& count);

// One send of up to length bytes, waiting at most timeout_ms for room in
// the send buffer. Returns 0 with the count actually sent (at least 1, it
// may be less than length), or -8 with count 0 (error, the peer has gone,
// or no room in time; the process never gets a signal for it).
int tcp_send(SocketHandle s, const void* bytes, size_t length, int& count,
             int timeout_ms = kSocketSendTimeoutMs);

// Sends all length bytes, continuing short sends; fails when one send
// makes no progress for timeout_ms. Returns 0 or -8; sent holds the bytes
// that went out either way.
int tcp_send_all(SocketHandle s, const void* bytes, size_t length, size_t& sent,
                 int timeout_ms = kSocketSendTimeoutMs);

// True once the server has been asked to stop; transfers look at it between
// pieces and end as failed.
bool socket_stop_requested();

// Test seam: the deadline of every later connect (<= 0 restores the
// default).
void tcp_set_connect_timeout(int ms);

// Closes a socket. Returns 0, or -1 on error.
int tcp_close(SocketHandle s);

// The dotted IPv4 address of the local host (its name's first address).
// Returns 0, or -1 when the library, the name or its address is unavailable.
int local_address(std::string& out);

// The local address a connected socket uses, as text (dotted IPv4, or IPv6
// such as "::1"). Returns 0 or -1.
int tcp_local_address(SocketHandle s, std::string& out);

// Formats four address bytes as "%d.%d.%d.%d" (bytes as unsigned values).
std::string address_to_text(const uint8_t bytes[4]);

// Parses dotted text into address bytes: each piece between dots (at most
// 15 characters kept) is read as a decimal number and its low 8 bits become
// the next byte. After the fourth byte a zero byte is stored (five bytes in
// all) and the walk stops; a text with fewer pieces sets only that many.
void text_to_address(const std::string& text, uint8_t out[5]);

// The watch set of listening sockets.
// Empties the set and the ready marks of the last wait.
void watch_clear();
// Appends s; ignored when the set already holds kWatchSetMax sockets.
void watch_add(SocketHandle s);
// Removes the first entry equal to s, keeping the order of the others.
void watch_remove(SocketHandle s);
// Waits up to ms for any socket of the set to become readable. Returns the
// number of ready sockets, 0 on time-out, -1 on error.
int watch_wait(int ms);
// Nonzero when s was ready after the last watch_wait.
int watch_is_ready(SocketHandle s);
// Sockets now in the set.
int watch_count();
// Starts the set clean: empty and not yet initialised.
void watch_reset();
// The socket at position i of the set (kNoSocket when out of range).
SocketHandle watch_at(int i);

// The peer address: the text of the address that the most recent
// tcp_connect resolved or reached (dotted IPv4 or IPv6 text; empty before
// the first one).
std::string peer_address();

// Starts clean: empty peer address, empty and uninitialised watch set,
// default connect time-out.
void socket_layer_reset();

}  // namespace ql
