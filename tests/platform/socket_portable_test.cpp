// The socket layer on loopback, through platform/sockets.h only, so the
// same cases run on every OS the layer is built for.
#include <cerrno>
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#endif

#include "platform/clock.h"
#include "platform/files.h"
#include "platform/sockets.h"

using namespace platform;

namespace {

const uint8_t kLoopback[4] = {127, 0, 0, 1};

#ifdef _WIN32
bool under_wine() {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}
#else
bool under_wine() {
    return false;
}
#endif

// Starts the socket library for the test and stops it after.
class SocketPortableTest : public ::testing::Test {
  protected:
    void SetUp() override {
        int major = 0, minor = 0;
        ASSERT_EQ(socket_library_start(major, minor), 0);
    }
    void TearDown() override {
        for (SocketHandle s : open_) socket_close(s);
        socket_library_stop();
    }

    // A socket closed at the end of the test.
    SocketHandle make() {
        SocketHandle s = socket_create_tcp();
        if (s != kNoSocket) open_.push_back(s);
        return s;
    }

    // A listener on 127.0.0.1 and a free port; *port is set.
    SocketHandle listener(int* port, int backlog = 5) {
        SocketHandle s = make();
        if (s == kNoSocket || socket_bind(s, kLoopback, 0) != 0 || socket_listen(s, backlog) != 0)
            return kNoSocket;
        uint8_t address[4];
        if (socket_local_address(s, address, *port) != 0) return kNoSocket;
        return s;
    }

    // A client connected to a new listener, and the accepted other end.
    bool connected_pair(SocketHandle* client, SocketHandle* server) {
        int port = 0;
        SocketHandle l = listener(&port);
        if (l == kNoSocket) return false;
        *client = make();
        if (socket_connect(*client, kLoopback, port, 5000) != 0) return false;
        *server = socket_accept(l);
        if (*server == kNoSocket) return false;
        open_.push_back(*server);
        return true;
    }

    // Forgets s (the test closed it itself).
    void closed(SocketHandle s) { std::erase(open_, s); }

    std::vector<SocketHandle> open_;
};

}  // namespace

TEST_F(SocketPortableTest, LibraryStartsNestedAndNamesTheFtpService) {
    int major = 0, minor = 0;
    ASSERT_EQ(socket_library_start(major, minor), 0);
    EXPECT_EQ(major, 1);  // what the server's socket layer asks for and requires
    EXPECT_EQ(minor, 1);
    socket_library_stop();  // one start still holds: sockets keep working
    SocketHandle s = make();
    EXPECT_NE(s, kNoSocket);

    EXPECT_EQ(service_port("ftp"), 21);
    EXPECT_EQ(service_port("no-such-service-here"), 0);
    EXPECT_EQ(service_port(""), 0);

    std::string name;
    ASSERT_EQ(local_host_name(name, 128), 0);
    EXPECT_FALSE(name.empty());
    EXPECT_LE(name.size(), 128u);

    uint8_t bytes[4] = {};
    EXPECT_TRUE(parse_ipv4("10.1.2.254", bytes));
    EXPECT_EQ(bytes[0], 10);
    EXPECT_EQ(bytes[3], 254);
    EXPECT_FALSE(parse_ipv4("10.1.2", bytes));
    EXPECT_FALSE(parse_ipv4("ftp.example", bytes));
    ASSERT_EQ(resolve_ipv4("localhost", bytes), 0);
    EXPECT_EQ(bytes[0], 127);
}

TEST_F(SocketPortableTest, RefusedConnectFailsWithTheReason) {
    int port = 0;
    SocketHandle l = listener(&port);
    ASSERT_NE(l, kNoSocket);
    ASSERT_EQ(socket_close(l), 0);  // nothing listens there any more
    closed(l);

    SocketHandle s = make();
    ASSERT_NE(s, kNoSocket);
    EXPECT_EQ(socket_connect(s, kLoopback, port, 10000), -1);
    EXPECT_EQ(last_error(), ECONNREFUSED);
}

// A listener whose queue is full drops further attempts: the connect ends
// at its deadline with a time-out, not after the system's retries.
TEST_F(SocketPortableTest, UnansweredConnectEndsAtItsDeadline) {
    int port = 0;
    SocketHandle l = listener(&port, 1);
    ASSERT_NE(l, kNoSocket);
    bool timed_out = false;
    for (int i = 0; i < 12 && !timed_out; ++i) {
        SocketHandle s = make();
        ASSERT_NE(s, kNoSocket);
        uint64_t start = monotonic_ms64();
        if (socket_connect(s, kLoopback, port, 300) == 0) continue;  // still room in the queue
        uint64_t spent = monotonic_ms64() - start;
        EXPECT_EQ(last_error(), ETIMEDOUT);
        EXPECT_LT(spent, 8000u);
        timed_out = true;
    }
    EXPECT_TRUE(timed_out) << "the listener's queue never filled";
}

TEST_F(SocketPortableTest, WaitsEndAtTheirTimeOutOrWhenSomethingIsReady) {
    SocketHandle client = kNoSocket, server = kNoSocket;
    ASSERT_TRUE(connected_pair(&client, &server));

    uint64_t start = monotonic_ms64();
    EXPECT_EQ(socket_wait(client, SocketEvent::kReadable, 300), 0);
    uint64_t spent = monotonic_ms64() - start;
    EXPECT_GE(spent, 250u);
    EXPECT_LT(spent, 8000u);
    EXPECT_EQ(socket_wait(client, SocketEvent::kReadable, 0), 0);  // only a look
    EXPECT_EQ(socket_wait(client, SocketEvent::kWritable, 5000), 1);

    SocketHandle both[2] = {client, server};
    bool ready[2] = {true, true};
    EXPECT_EQ(sockets_wait_readable(both, 2, 100, ready), 0);
    EXPECT_FALSE(ready[0]);
    ASSERT_EQ(socket_send(server, "ping", 4), 4);
    EXPECT_EQ(sockets_wait_readable(both, 2, 5000, ready), 1);
    EXPECT_TRUE(ready[0]);
    EXPECT_FALSE(ready[1]);

    char buffer[16];
    EXPECT_EQ(socket_receive(client, buffer, sizeof buffer), 4);
    EXPECT_EQ(socket_receive(client, buffer, sizeof buffer), -1);  // nothing more: no wait
    EXPECT_TRUE(socket_would_block());

    // A listener is readable while a connection waits to be accepted.
    int port = 0;
    SocketHandle l = listener(&port);
    ASSERT_NE(l, kNoSocket);
    EXPECT_EQ(sockets_wait_readable(&l, 1, 0, ready), 0);
    SocketHandle caller = make();
    ASSERT_EQ(socket_connect(caller, kLoopback, port, 5000), 0);
    EXPECT_EQ(sockets_wait_readable(&l, 1, 5000, ready), 1);
    EXPECT_TRUE(ready[0]);
}

// A peer that never reads: sends take what fits and then report that they
// would have had to wait; they never block the caller.
TEST_F(SocketPortableTest, SendToAPeerThatDoesNotReadWouldBlock) {
    SocketHandle client = kNoSocket, server = kNoSocket;
    ASSERT_TRUE(connected_pair(&client, &server));
    const std::string chunk(65536, 'x');
    size_t total = 0;
    long n = 0;
    while (total < (256u << 20) && (n = socket_send(client, chunk.data(), chunk.size())) > 0)
        total += static_cast<size_t>(n);
    ASSERT_EQ(n, -1) << "256 MB went into the buffers of a peer that never reads";
    EXPECT_TRUE(socket_would_block());
    EXPECT_GT(total, 0u);
    EXPECT_EQ(socket_wait(client, SocketEvent::kWritable, 100), 0);

    // The socket is still blocking for its other users, and still whole:
    // once the peer reads, sends go on.
    std::vector<char> sink(1 << 20);
    for (int i = 0; i < 1000 && socket_wait(client, SocketEvent::kWritable, 0) == 0; ++i) {
        if (socket_wait(server, SocketEvent::kReadable, 1000) != 1) break;
        if (socket_receive(server, sink.data(), sink.size()) <= 0) break;
    }
    EXPECT_EQ(socket_wait(client, SocketEvent::kWritable, 5000), 1);
    EXPECT_GT(socket_send(client, "y", 1), 0);
}

TEST_F(SocketPortableTest, OrderlyCloseAndResetAreToldApart) {
    SocketHandle client = kNoSocket, server = kNoSocket;
    ASSERT_TRUE(connected_pair(&client, &server));
    ASSERT_EQ(socket_close(server), 0);
    closed(server);
    ASSERT_EQ(socket_wait(client, SocketEvent::kReadable, 5000), 1);
    char buffer[8];
    EXPECT_EQ(socket_receive(client, buffer, sizeof buffer), 0);  // the peer closed

    // Closing a socket with unread bytes resets the connection.
    if (under_wine()) GTEST_SKIP() << "wine closes a socket with unread bytes without a reset";
    ASSERT_TRUE(connected_pair(&client, &server));
    ASSERT_EQ(socket_send(client, "unread", 6), 6);
    ASSERT_EQ(socket_wait(server, SocketEvent::kReadable, 5000), 1);
    ASSERT_EQ(socket_close(server), 0);
    closed(server);
    ASSERT_EQ(socket_wait(client, SocketEvent::kReadable, 5000), 1);
    EXPECT_EQ(socket_receive(client, buffer, sizeof buffer), -1);
    EXPECT_FALSE(socket_would_block());
    EXPECT_EQ(last_error(), ECONNRESET);
    long n = 0;
    for (int i = 0; i < 50 && n >= 0; ++i) n = socket_send(client, "more", 4);
    EXPECT_EQ(n, -1);
    EXPECT_FALSE(socket_would_block());
}

TEST_F(SocketPortableTest, PortIsNotSharedButBindsAgainAfterItsConnectionsClose) {
    int port = 0;
    SocketHandle l = listener(&port);
    ASSERT_NE(l, kNoSocket);
    SocketHandle other = make();
    EXPECT_EQ(socket_bind(other, kLoopback, port), -1);
    EXPECT_EQ(last_error(), EADDRINUSE);

    // The server side closes first, so its end of the connection winds down
    // (TIME_WAIT) on the listening port.
    SocketHandle client = make();
    ASSERT_EQ(socket_connect(client, kLoopback, port, 5000), 0);
    SocketHandle accepted = socket_accept(l);
    ASSERT_NE(accepted, kNoSocket);
    ASSERT_EQ(socket_close(accepted), 0);
    ASSERT_EQ(socket_wait(client, SocketEvent::kReadable, 5000), 1);
    char byte;
    EXPECT_EQ(socket_receive(client, &byte, 1), 0);
    ASSERT_EQ(socket_close(client), 0);
    closed(client);
    ASSERT_EQ(socket_close(l), 0);
    closed(l);

    SocketHandle again = make();
    EXPECT_EQ(socket_bind(again, kLoopback, port), 0) << "error " << last_error();
    EXPECT_EQ(socket_listen(again, 5), 0);
    uint8_t address[4] = {};
    int bound = 0;
    ASSERT_EQ(socket_local_address(again, address, bound), 0);
    EXPECT_EQ(bound, port);
    EXPECT_EQ(address[0], 127);
}

TEST_F(SocketPortableTest, ClosedHandlesAreErrorsNotWaits) {
    SocketHandle s = socket_create_tcp();
    ASSERT_NE(s, kNoSocket);
    ASSERT_EQ(socket_close(s), 0);
    EXPECT_EQ(socket_wait(s, SocketEvent::kReadable, 5000), -1);
    EXPECT_EQ(last_error(), EBADF);
    bool ready = false;
    EXPECT_EQ(sockets_wait_readable(&s, 1, 5000, &ready), -1);
}
