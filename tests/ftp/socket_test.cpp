// The socket layer against real loopback sockets. The peers are made with
// the platform's own socket calls, so these cases run on every OS; those
// that need POSIX options on the peer are in socket_posix_test.cpp.
#include <cstdint>
#include <string>

#include <gtest/gtest.h>

#include "foundation/server_state.h"
#include "network/socket.h"
#include "platform/clock.h"
#include "platform/sockets.h"
#include "raw_listener.h"

using namespace ql;

namespace {

using ftp_test::RawListener;
using testing_support::free_loopback_port;
using testing_support::kLoopback;

// A connected client socket below the layer under test, or kNoSocket.
SocketHandle raw_connect(int port) {
    SocketHandle s = platform::socket_create_tcp();
    if (platform::socket_connect(s, kLoopback, port, 5000) != 0) {
        platform::socket_close(s);
        return kNoSocket;
    }
    return s;
}

// Sends all bytes below the layer under test.
bool raw_send(SocketHandle s, const std::string& bytes) {
    return platform::socket_wait(s, platform::SocketEvent::kWritable, 5000) == 1 &&
           platform::socket_send(s, bytes.data(), bytes.size()) == static_cast<long>(bytes.size());
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
    EXPECT_EQ(tcp_connect(s, "127.0.0.2", std::to_string(free_loopback_port())), -6);
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
    SocketHandle peer = server.accept_one();
    ASSERT_NE(peer, kNoSocket);

    char buffer[16];
    int count = -1;
    EXPECT_EQ(tcp_receive(s, buffer, sizeof buffer, 50, count), -7);  // silent peer
    EXPECT_EQ(count, 0);

    ASSERT_TRUE(raw_send(peer, "hello"));
    EXPECT_EQ(tcp_receive(s, buffer, 3, 5000, count), 0);  // capacity is respected
    EXPECT_EQ(std::string(buffer, static_cast<size_t>(count)), "hel");
    EXPECT_EQ(tcp_receive(s, buffer, sizeof buffer, 5000, count), 0);
    EXPECT_EQ(std::string(buffer, static_cast<size_t>(count)), "lo");

    platform::socket_close(peer);
    count = -1;
    EXPECT_EQ(tcp_receive(s, buffer, sizeof buffer, 5000, count), 0);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(tcp_close(s), 0);
}

TEST_F(SocketTest, ListenAcceptAndExchange) {
    int port = free_loopback_port();
    SocketHandle listener = kNoSocket;
    ASSERT_EQ(tcp_listen(listener, "127.0.0.1", std::to_string(port)), 0);

    // A second listener on the same port cannot be had.
    SocketHandle other = kNoSocket;
    EXPECT_EQ(tcp_listen(other, "127.0.0.1", std::to_string(port)), -6);
    EXPECT_EQ(tcp_listen(other, "127.0.0.1", "0"), -4);

    SocketHandle client = raw_connect(port);
    ASSERT_NE(client, kNoSocket);
    SocketHandle accepted = kNoSocket;
    ASSERT_EQ(tcp_accept(listener, accepted), 0);
    int count = 0;
    ASSERT_EQ(tcp_send(accepted, "ping", 4, count), 0);
    EXPECT_EQ(count, 4);
    char buffer[8] = {};
    ASSERT_EQ(platform::socket_wait(client, platform::SocketEvent::kReadable, 5000), 1);
    EXPECT_EQ(platform::socket_receive(client, buffer, sizeof buffer), 4);
    EXPECT_STREQ(buffer, "ping");

    std::string local;
    ASSERT_EQ(tcp_local_address(accepted, local), 0);
    EXPECT_EQ(local, "127.0.0.1");
    platform::socket_close(client);
    tcp_close(accepted);
    tcp_close(listener);
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
    int port = free_loopback_port();
    SocketHandle listener = kNoSocket;
    ASSERT_EQ(tcp_listen(listener, "127.0.0.1", std::to_string(port)), 0);
    EXPECT_EQ(watch_wait(10), 0);  // never initialised: nothing to wait on
    watch_add(listener);
    EXPECT_EQ(watch_wait(20), 0);
    EXPECT_EQ(watch_is_ready(listener), 0);

    SocketHandle client = raw_connect(port);
    ASSERT_NE(client, kNoSocket);
    EXPECT_EQ(watch_wait(10000), 1);
    EXPECT_NE(watch_is_ready(listener), 0);
    EXPECT_EQ(watch_is_ready(listener + 1), 0);
    platform::socket_close(client);
    tcp_close(listener);
}

// Once the server is asked to stop, a wait on a silent peer ends within the
// grace time, not after its own 30 s.
TEST_F(SocketTest, StopRequestEndsABlockedReceiveSoon) {
    RawListener server;
    SocketHandle s = kNoSocket;
    ASSERT_EQ(tcp_connect(s, "127.0.0.1", std::to_string(server.port)), 0);
    SocketHandle peer = server.accept_one();
    ASSERT_NE(peer, kNoSocket);
    server_state().stop_request = true;
    const uint64_t start = platform::monotonic_ms64();
    char byte = 0;
    int count = -1;
    EXPECT_EQ(tcp_receive(s, &byte, 1, 30000, count), -7);
    EXPECT_LT(platform::monotonic_ms64() - start, 20000u);
    EXPECT_TRUE(socket_stop_requested());
    server_state().stop_request = false;
    platform::socket_close(peer);
    tcp_close(s);
}
