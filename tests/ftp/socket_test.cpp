// The socket layer against real loopback sockets.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/server_state.h"
#include "network/socket.h"
#include "platform/clock.h"

using namespace ql;

namespace {

// A plain listening socket on 127.0.0.1 and a free port, made without the
// layer under test.
struct RawListener {
    int fd = -1;
    int port = 0;
    RawListener() {
        fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
        ::listen(fd, 5);
        socklen_t len = sizeof sa;
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
        port = ntohs(sa.sin_port);
    }
    ~RawListener() {
        if (fd >= 0) ::close(fd);
    }
    int accept_one() { return ::accept(fd, nullptr, nullptr); }
};

// A port on which nothing listens (bound and released at once).
int unused_port() {
    RawListener l;
    return l.port;
}

int raw_connect(int port) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sa.sin_port = htons(static_cast<uint16_t>(port));
    if (::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

class SocketTest : public ::testing::Test {
  protected:
    void SetUp() override { socket_layer_reset(); }
    void TearDown() override { socket_layer_reset(); }
};

}  // namespace

TEST_F(SocketTest, ConnectSetsPeerAddressFromDottedTextOrResolvedName) {
    RawListener server;
    SocketHandle s = kNoSocket;
    ASSERT_EQ(tcp_connect(s, "127.0.0.1", std::to_string(server.port)), 0);
    EXPECT_EQ(peer_address(), "127.0.0.1");
    tcp_close(s);

    ASSERT_EQ(tcp_connect(s, "localhost", std::to_string(server.port)), 0);
    EXPECT_EQ(peer_address(), "127.0.0.1");
    tcp_close(s);
}

TEST_F(SocketTest, FailedConnectStillChangesPeerAddressAndReportsSocketError) {
    SocketHandle s = kNoSocket;
    EXPECT_EQ(tcp_connect(s, "127.0.0.2", std::to_string(unused_port())), -6);
    EXPECT_EQ(peer_address(), "127.0.0.2");
}

TEST_F(SocketTest, PortMustResolveToServiceOrNonZeroNumber) {
    EXPECT_EQ(platform::service_port("ftp"), 21);
    SocketHandle s = kNoSocket;
    EXPECT_EQ(tcp_connect(s, "127.0.0.1", "0"), -4);
    EXPECT_EQ(tcp_connect(s, "127.0.0.1", "abc"), -4);
    EXPECT_EQ(tcp_connect(s, "127.0.0.1", "70000"), -4);
    EXPECT_EQ(tcp_connect(s, "", "21"), -4);
    EXPECT_EQ(s, kNoSocket);
}

TEST_F(SocketTest, ReceiveReportsDataOrderlyCloseAndTimeOut) {
    RawListener server;
    SocketHandle s = kNoSocket;
    ASSERT_EQ(tcp_connect(s, "127.0.0.1", std::to_string(server.port)), 0);
    int peer = server.accept_one();
    ASSERT_GE(peer, 0);

    char buffer[16];
    int count = -1;
    EXPECT_EQ(tcp_receive(s, buffer, sizeof buffer, 50, count), -7);  // silent peer
    EXPECT_EQ(count, 0);

    ASSERT_EQ(::send(peer, "hello", 5, 0), 5);
    EXPECT_EQ(tcp_receive(s, buffer, 3, 5000, count), 0);  // capacity is respected
    EXPECT_EQ(std::string(buffer, static_cast<size_t>(count)), "hel");
    EXPECT_EQ(tcp_receive(s, buffer, sizeof buffer, 5000, count), 0);
    EXPECT_EQ(std::string(buffer, static_cast<size_t>(count)), "lo");

    ::close(peer);
    count = -1;
    EXPECT_EQ(tcp_receive(s, buffer, sizeof buffer, 5000, count), 0);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(tcp_close(s), 0);
}

TEST_F(SocketTest, SendToVanishedPeerFailsWithoutKillingTheProcess) {
    RawListener server;
    SocketHandle s = kNoSocket;
    ASSERT_EQ(tcp_connect(s, "127.0.0.1", std::to_string(server.port)), 0);
    int peer = server.accept_one();
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

TEST_F(SocketTest, ListenAcceptAndExchange) {
    int port = unused_port();
    SocketHandle listener = kNoSocket;
    ASSERT_EQ(tcp_listen(listener, "127.0.0.1", std::to_string(port)), 0);

    // A second listener on the same port cannot be had.
    SocketHandle other = kNoSocket;
    EXPECT_EQ(tcp_listen(other, "127.0.0.1", std::to_string(port)), -6);
    EXPECT_EQ(tcp_listen(other, "127.0.0.1", "0"), -4);

    int client = raw_connect(port);
    ASSERT_GE(client, 0);
    SocketHandle accepted = kNoSocket;
    ASSERT_EQ(tcp_accept(listener, accepted), 0);
    int count = 0;
    ASSERT_EQ(tcp_send(accepted, "ping", 4, count), 0);
    EXPECT_EQ(count, 4);
    char buffer[8] = {};
    EXPECT_EQ(::recv(client, buffer, sizeof buffer, 0), 4);
    EXPECT_STREQ(buffer, "ping");

    std::string local;
    ASSERT_EQ(tcp_local_address(accepted, local), 0);
    EXPECT_EQ(local, "127.0.0.1");
    ::close(client);
    tcp_close(accepted);
    tcp_close(listener);
}

TEST_F(SocketTest, FailedAcceptClosesTheListener) {
    int port = unused_port();
    SocketHandle listener = kNoSocket;
    ASSERT_EQ(tcp_listen(listener, "127.0.0.1", std::to_string(port)), 0);
    ::shutdown(listener, SHUT_RDWR);  // makes accept fail at once
    SocketHandle accepted = kNoSocket;
    EXPECT_EQ(tcp_accept(listener, accepted), -6);
    EXPECT_EQ(accepted, kNoSocket);
    EXPECT_EQ(tcp_close(listener), -1);  // already closed by the failed accept
}

TEST_F(SocketTest, LocalAddressIsDottedWhenTheHostNameResolves) {
    std::string text;
    if (local_address(text) != 0) GTEST_SKIP() << "the local host name does not resolve here";
    uint8_t bytes[4];
    EXPECT_TRUE(platform::parse_ipv4(text, bytes)) << text;
}

TEST_F(SocketTest, AddressTextConversions) {
    uint8_t out[5] = {9, 9, 9, 9, 9};
    text_to_address("192.168.0.200", out);
    EXPECT_EQ(out[0], 192);
    EXPECT_EQ(out[1], 168);
    EXPECT_EQ(out[2], 0);
    EXPECT_EQ(out[3], 200);
    EXPECT_EQ(out[4], 0);
    EXPECT_EQ(address_to_text(out), "192.168.0.200");

    uint8_t wrapped[5] = {};
    text_to_address("300.1.1.1", wrapped);
    EXPECT_EQ(wrapped[0], 44);

    uint8_t partial[5] = {9, 9, 9, 9, 9};
    text_to_address("10.20", partial);
    EXPECT_EQ(partial[0], 10);
    EXPECT_EQ(partial[1], 20);
    EXPECT_EQ(partial[2], 9);  // untouched

    uint8_t extra[6] = {9, 9, 9, 9, 9, 9};
    text_to_address("1.2.3.4.5.6", extra);
    EXPECT_EQ(extra[3], 4);
    EXPECT_EQ(extra[4], 0);
    EXPECT_EQ(extra[5], 9);  // the walk stopped after the fourth byte

    const uint8_t high[4] = {255, 254, 0, 1};
    EXPECT_EQ(address_to_text(high), "255.254.0.1");
}

TEST_F(SocketTest, WatchSetKeepsOrderAndBound) {
    for (int i = 0; i < kWatchSetMax + 1; ++i) watch_add(100 + i);
    EXPECT_EQ(watch_count(), kWatchSetMax);
    EXPECT_EQ(watch_at(kWatchSetMax - 1), 100 + kWatchSetMax - 1);

    watch_clear();
    watch_add(5);
    watch_add(6);
    watch_add(7);
    watch_remove(6);
    ASSERT_EQ(watch_count(), 2);
    EXPECT_EQ(watch_at(0), 5);
    EXPECT_EQ(watch_at(1), 7);
    watch_remove(42);  // absent: unchanged
    EXPECT_EQ(watch_count(), 2);
}

TEST_F(SocketTest, WatchWaitReportsPendingConnection) {
    int port = unused_port();
    SocketHandle listener = kNoSocket;
    ASSERT_EQ(tcp_listen(listener, "127.0.0.1", std::to_string(port)), 0);
    EXPECT_EQ(watch_wait(10), 0);  // never initialised: nothing to wait on
    watch_add(listener);
    EXPECT_EQ(watch_wait(20), 0);
    EXPECT_EQ(watch_is_ready(listener), 0);

    int client = raw_connect(port);
    ASSERT_GE(client, 0);
    EXPECT_EQ(watch_wait(10000), 1);
    EXPECT_NE(watch_is_ready(listener), 0);
    EXPECT_EQ(watch_is_ready(listener + 1), 0);
    ::close(client);
    tcp_close(listener);
}

// A peer that accepts and then never reads: the sends fill both buffers and
// then find no room; the deadline ends them instead of a wait for ever.
TEST_F(SocketTest, SendToPeerThatNeverReadsFailsAtTheDeadline) {
    RawListener server;
    int small = 4096;
    ::setsockopt(server.fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    SocketHandle s = kNoSocket;
    ASSERT_EQ(tcp_connect(s, "127.0.0.1", std::to_string(server.port)), 0);
    int peer = server.accept_one();
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
TEST_F(SocketTest, ConnectThatIsNeverAnsweredEndsAtTheDeadline) {
    RawListener server;
    ::listen(server.fd, 0);
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

// Once the server is asked to stop, a wait on a silent peer ends within the
// grace time, not after its own 30 s.
TEST_F(SocketTest, StopRequestEndsABlockedReceiveSoon) {
    RawListener server;
    SocketHandle s = kNoSocket;
    ASSERT_EQ(tcp_connect(s, "127.0.0.1", std::to_string(server.port)), 0);
    int peer = server.accept_one();
    ASSERT_GE(peer, 0);
    server_state().stop_request = true;
    const uint64_t start = platform::monotonic_ms64();
    char byte = 0;
    int count = -1;
    EXPECT_EQ(tcp_receive(s, &byte, 1, 30000, count), -7);
    EXPECT_LT(platform::monotonic_ms64() - start, 20000u);
    EXPECT_TRUE(socket_stop_requested());
    server_state().stop_request = false;
    ::close(peer);
    tcp_close(s);
}
