// A plain listening socket on 127.0.0.1 and a free port, made below the
// socket layer under test. On POSIX the handle is the descriptor itself.
#pragma once

#include "loopback.h"
#include "platform/sockets.h"

namespace ftp_test {

struct RawListener {
    platform::SocketHandle fd = platform::kNoSocket;
    int port = 0;
    RawListener() { fd = testing_support::listen_loopback(port); }
    ~RawListener() {
        if (fd != platform::kNoSocket) platform::socket_close(fd);
    }
    RawListener(const RawListener&) = delete;
    RawListener& operator=(const RawListener&) = delete;
    platform::SocketHandle accept_one() { return platform::socket_accept(fd); }
};

}  // namespace ftp_test
