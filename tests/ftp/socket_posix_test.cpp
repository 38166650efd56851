// The socket layer against real loopback sockets: the cases that need
// POSIX socket options or calls on the peer side (linger, shutdown, small
// buffers, raw non-blocking connects).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "network/socket.h"
#include "raw_listener.h"

using namespace ql;

namespace {

using ftp_test::RawListener;
using testing_support::free_loopback_port;

class SocketPosixTest : public ::testing::Test {
  protected:
    void SetUp() override { socket_layer_reset(); }
    void TearDown() override { socket_layer_reset(); }
};

}  // namespace

TEST_F(SocketPosixTest, SendToVanishedPeerFailsWithoutKillingTheProcess) {
    RawListener server;
    SocketHandle s = kNoSocket;
    ASSERT_EQ(tcp_connect(s, "127.0.0.1", std::to_string(server.port)), 0);
    int peer = static_cast<int>(server.accept_one());
    linger hard{1, 0};  // close with a reset, so the next sends fail at once
    ::setsockopt(peer, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    ::close(peer);

    int count = 0;
    int rc = 0;
    for (int i = 0; i < 100 && rc == 0; ++i) rc = tcp_send(s, "data", 4, count);
    EXPECT_EQ(rc, -8);
    EXPECT_EQ(count, 0);
    tcp_close(s);
}

TEST_F(SocketPosixTest, FailedAcceptClosesTheListener) {
    int port = free_loopback_port();
    SocketHandle listener = kNoSocket;
    ASSERT_EQ(tcp_listen(listener, "127.0.0.1", std::to_string(port)), 0);
    ::shutdown(listener, SHUT_RDWR);  // makes accept fail at once
    SocketHandle accepted = kNoSocket;
    EXPECT_EQ(tcp_accept(listener, accepted), -6);
    EXPECT_EQ(accepted, kNoSocket);
    EXPECT_EQ(tcp_close(listener), -1);  // already closed by the failed accept
}

// A peer that accepts and then never reads: the sends fill both buffers and
// then find no room; the deadline ends them instead of a wait for ever.
TEST_F(SocketPosixTest, SendToPeerThatNeverReadsFailsAtTheDeadline) {
    RawListener server;
    int small = 4096;
    ::setsockopt(static_cast<int>(server.fd), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    SocketHandle s = kNoSocket;
    ASSERT_EQ(tcp_connect(s, "127.0.0.1", std::to_string(server.port)), 0);
    int peer = static_cast<int>(server.accept_one());
    ASSERT_GE(peer, 0);

    const std::string bytes(16 << 20, 'x');
    size_t sent = 0;
    EXPECT_EQ(tcp_send_all(s, bytes.data(), bytes.size(), sent, 300), -8);
    EXPECT_GT(sent, 0u);
    EXPECT_LT(sent, bytes.size());
    ::close(peer);
    tcp_close(s);
}

// A listener whose queue is full drops further connection attempts; the
// connect gives up at its deadline.
TEST_F(SocketPosixTest, ConnectThatIsNeverAnsweredEndsAtTheDeadline) {
    RawListener server;
    ::listen(static_cast<int>(server.fd), 0);
    std::vector<int> queued;
    for (int i = 0; i < 6; ++i) {
        int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        sa.sin_port = htons(static_cast<uint16_t>(server.port));
        ::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
        queued.push_back(fd);
    }
    ::usleep(200 * 1000);
    tcp_set_connect_timeout(300);
    SocketHandle s = kNoSocket;
    EXPECT_EQ(tcp_connect(s, "127.0.0.1", std::to_string(server.port)), -6);
    EXPECT_EQ(peer_address(), "127.0.0.1");
    for (int fd : queued) ::close(fd);
}
