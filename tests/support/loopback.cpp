#include "loopback.h"

namespace testing_support {

namespace {

platform::SocketHandle bound_socket(int& port) {
    port = 0;
    int major = 0, minor = 0;
    if (platform::socket_library_start(major, minor) != 0) return platform::kNoSocket;
    platform::SocketHandle s = platform::socket_create_tcp();
    if (s == platform::kNoSocket) return s;
    uint8_t address[4];
    if (platform::socket_bind(s, kLoopback, 0) != 0 ||
        platform::socket_local_address(s, address, port) != 0) {
        platform::socket_close(s);
        port = 0;
        return platform::kNoSocket;
    }
    return s;
}

}  // namespace

platform::SocketHandle listen_loopback(int& port, int backlog) {
    platform::SocketHandle s = bound_socket(port);
    if (s != platform::kNoSocket && platform::socket_listen(s, backlog) != 0) {
        platform::socket_close(s);
        port = 0;
        return platform::kNoSocket;
    }
    return s;
}

bool loopback_pair(platform::SocketHandle& client, platform::SocketHandle& server) {
    client = server = platform::kNoSocket;
    int port = 0;
    platform::SocketHandle listener = listen_loopback(port, 1);
    if (listener == platform::kNoSocket) return false;
    client = platform::socket_create_tcp();
    if (client != platform::kNoSocket &&
        platform::socket_connect(client, kLoopback, port, 10000) == 0 &&
        platform::socket_wait(listener, platform::SocketEvent::kReadable, 10000) == 1) {
        server = platform::socket_accept(listener);
    }
    platform::socket_close(listener);
    if (server != platform::kNoSocket) return true;
    if (client != platform::kNoSocket) platform::socket_close(client);
    client = platform::kNoSocket;
    return false;
}

int free_loopback_port() {
    int port = 0;
    platform::SocketHandle s = bound_socket(port);
    if (s != platform::kNoSocket) platform::socket_close(s);
    return port;
}

}  // namespace testing_support
