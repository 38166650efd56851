// The socket layer: connect, listen, accept, timed receive, send, addresses.
#include "network/socket.h"
#include "socket_wait.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <vector>

#include "foundation/server_state.h"
#include "platform/clock.h"

namespace ql {

namespace {

// Dotted text of the host most recently reached; at most 15 characters.
std::string g_peer_address;

// Starts the socket library and insists on version 1.1.
int start_library() {
    int major = 0;
    int minor = 0;
    if (platform::socket_library_start(major, minor) != 0) return socket_result::kLibraryStart;
    if (major != 1 || minor != 1) {
        platform::socket_library_stop();
        return socket_result::kLibraryVersion;
    }
    return socket_result::kOk;
}

// Reads a decimal number the way atoi does: leading blanks, an optional
// sign, then digits up to the first other character; no digits give 0.
long long leading_number(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    long long value = 0;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
        if (value < 1000000000000LL) value = value * 10 + (text[i] - '0');
    }
    return negative ? -value : value;
}

// A service name from the system's table, else a decimal number; 0 when
// neither gives a usable TCP port.
int resolve_port(const std::string& port) {
    int p = platform::service_port(port);
    if (p > 0) return p;
    long long n = leading_number(port);
    return (n > 0 && n <= 65535) ? static_cast<int>(n) : 0;
}

// The addresses of a host text: an address literal (an IPv6 one may stand
// in brackets) is itself; anything else is a name for the resolver.
int host_addresses(const std::string& host, std::vector<platform::IpAddress>& out, bool& literal) {
    out.clear();
    std::string text = strip_brackets(host);
    platform::IpAddress a;
    literal = platform::parse_ip(text, a);
    if (literal) {
        out.push_back(a);
        return 0;
    }
    return platform::resolve_host(text, out) == 0 ? 0 : -1;
}

// The addresses the most recent connect tried, for the caller's log line.
std::string g_tried;

int g_connect_timeout_ms = kSocketConnectTimeoutMs;

// Waits until s is ready for event, at most timeout_ms, and at most
// kSocketStopGraceMs after a stop request. True when ready (an error waiting
// counts as ready: the call that follows reports it).
bool wait_ready(SocketHandle s, platform::SocketEvent event, int timeout_ms) {
    return wait_in_stop_slices(timeout_ms,
                               [&](int ms) { return platform::socket_wait(s, event, ms); }) > 0;
}

}  // namespace

std::string strip_brackets(const std::string& host) {
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
        return host.substr(1, host.size() - 2);
    return host;
}

int tcp_connect(SocketHandle& slot, const std::string& host, const std::string& port) {
    int rc = start_library();
    if (rc != socket_result::kOk) return rc;
    g_tried.clear();
    std::vector<platform::IpAddress> addresses;
    bool literal = false;
    if (host_addresses(host, addresses, literal) != 0) return socket_result::kResolve;
    // A dotted host keeps its own text; everything else shows the address.
    g_peer_address = literal && addresses[0].family == 4 ? strip_brackets(host)
                                                         : platform::ip_to_text(addresses[0]);
    int p = resolve_port(port);
    if (p == 0) return socket_result::kResolve;
    // Every address of the name in the resolver's order, each with the full
    // connect deadline, so a host with a dead IPv6 route is still reached
    // over IPv4; a stop request ends the walk.
    for (const platform::IpAddress& a : addresses) {
        if (socket_stop_requested()) break;
        std::string text = platform::ip_to_text(a);
        g_tried += (g_tried.empty() ? "" : " ") + text;
        slot = platform::socket_create_tcp_for(a.family);
        if (slot == kNoSocket) continue;
        if (platform::socket_connect_ip(slot, a, p, g_connect_timeout_ms) == 0) {
            if (!literal || a.family == 6) g_peer_address = text;
            return socket_result::kOk;
        }
        platform::socket_close(slot);
    }
    return socket_result::kSocket;
}

std::string tcp_last_tried() {
    return g_tried;
}

int tcp_listen(SocketHandle& slot, const std::string& host, const std::string& port) {
    int rc = start_library();
    if (rc != socket_result::kOk) return rc;
    std::string name = host;
    if (name.empty() && platform::local_host_name(name, 128) != 0) return socket_result::kResolve;
    std::vector<platform::IpAddress> addresses;
    bool literal = false;
    if (host_addresses(name, addresses, literal) != 0) return socket_result::kResolve;
    const platform::IpAddress& address = addresses[0];
    int p = resolve_port(port);
    if (p == 0) return socket_result::kResolve;
    slot = platform::socket_create_tcp_for(address.family);
    if (slot == kNoSocket) return socket_result::kSocket;
    if (platform::socket_bind_ip(slot, address, p) != 0 || platform::socket_listen(slot, 20) != 0) {
        platform::socket_close(slot);
        return socket_result::kSocket;
    }
    return socket_result::kOk;
}

int tcp_accept(SocketHandle listener, SocketHandle& out) {
    SocketHandle s = platform::socket_accept(listener);
    if (s == kNoSocket) {
        platform::socket_close(listener);
        return socket_result::kSocket;
    }
    out = s;
    return socket_result::kOk;
}

int tcp_receive(SocketHandle s, void* buffer, size_t capacity, int timeout_ms, int& count) {
    count = 0;
    // Take what has arrived first: a busy transfer then costs one call per
    // piece, and only an empty socket costs a wait.
    long n = platform::socket_receive(s, buffer, capacity);
    if (n < 0) {
        if (!platform::socket_would_block()) return socket_result::kReceive;
        if (!wait_ready(s, platform::SocketEvent::kReadable, timeout_ms)) {
            return socket_result::kReceive;
        }
        n = platform::socket_receive(s, buffer, capacity);
        if (n < 0) return socket_result::kReceive;
    }
    count = static_cast<int>(n);
    return socket_result::kOk;
}

int tcp_send(SocketHandle s, const void* bytes, size_t length, int& count, int timeout_ms) {
    count = 0;
    if (length == 0) return socket_result::kSend;
    long n = platform::socket_send(s, bytes, length);
    if (n < 0) {
        if (!platform::socket_would_block()) return socket_result::kSend;
        if (!wait_ready(s, platform::SocketEvent::kWritable, timeout_ms)) {
            return socket_result::kSend;
        }
        n = platform::socket_send(s, bytes, length);
    }
    if (n <= 0) return socket_result::kSend;
    count = static_cast<int>(n);
    return socket_result::kOk;
}

int tcp_send_all(SocketHandle s, const void* bytes, size_t length, size_t& sent, int timeout_ms) {
    sent = 0;
    const char* p = static_cast<const char*>(bytes);
    while (sent < length) {
        int count = 0;
        if (tcp_send(s, p + sent, length - sent, count, timeout_ms) != socket_result::kOk) {
            return socket_result::kSend;
        }
        sent += static_cast<size_t>(count);
    }
    return socket_result::kOk;
}

bool socket_stop_requested() {
    return server_state().stop_request.load();
}

void tcp_set_connect_timeout(int ms) {
    g_connect_timeout_ms = ms > 0 ? ms : kSocketConnectTimeoutMs;
}

int tcp_close(SocketHandle s) {
    return platform::socket_close(s) == 0 ? 0 : -1;
}

int local_address(std::string& out) {
    if (start_library() != socket_result::kOk) return -1;
    std::string name;
    if (platform::local_host_name(name, 128) != 0) return -1;
    uint8_t address[4];
    if (platform::resolve_ipv4(name, address) != 0) return -1;
    out = address_to_text(address);
    return 0;
}

int tcp_local_address(SocketHandle s, std::string& out) {
    platform::IpAddress address;
    int port = 0;
    if (platform::socket_local_ip(s, address, port) != 0) return -1;
    out = platform::ip_to_text(address);
    return 0;
}

std::string address_to_text(const uint8_t bytes[4]) {
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", bytes[0], bytes[1], bytes[2], bytes[3]);
    return text;
}

void text_to_address(const std::string& text, uint8_t out[5]) {
    std::string piece;
    int stored = 0;
    for (size_t i = 0; i <= text.size() && stored < 4; ++i) {
        if (i < text.size() && text[i] != '.') {
            if (piece.size() < 15) piece += text[i];
            continue;
        }
        out[stored++] = static_cast<uint8_t>(leading_number(piece) & 0xFF);
        piece.clear();
        if (stored == 4) out[4] = 0;
    }
}

std::string peer_address() {
    return g_peer_address;
}

void socket_layer_reset() {
    g_peer_address.clear();
    g_tried.clear();
    g_connect_timeout_ms = kSocketConnectTimeoutMs;
    watch_reset();
}

}  // namespace ql
