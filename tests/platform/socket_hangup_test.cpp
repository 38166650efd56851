// The socket calls of servers that play the far end of a connection: the
// wait for the peer's hang-up that reads nothing, shutdown waking a waiter,
// and the options relayd sets. Loopback only; built for every OS.
#include <gtest/gtest.h>

#include <cstdint>
#include <thread>

#include "platform/clock.h"
#include "platform/sockets.h"

namespace {

using namespace platform;

const uint8_t kLoopback[4] = {127, 0, 0, 1};

// A connected pair on loopback: near is the accepted end.
class Pair : public ::testing::Test {
  protected:
    void SetUp() override {
        int major = 0, minor = 0;
        ASSERT_EQ(socket_library_start(major, minor), 0);
        listener_ = socket_create_tcp();
        ASSERT_NE(listener_, kNoSocket);
        int port = 0;
        uint8_t address[4];
        ASSERT_EQ(socket_bind(listener_, kLoopback, 0), 0);
        ASSERT_EQ(socket_listen(listener_, 1), 0);
        ASSERT_EQ(socket_local_address(listener_, address, port), 0);
        far_ = socket_create_tcp();
        ASSERT_NE(far_, kNoSocket);
        ASSERT_EQ(socket_connect(far_, kLoopback, port, 5000), 0);
        near_ = socket_accept(listener_);
        ASSERT_NE(near_, kNoSocket);
    }
    void TearDown() override {
        for (SocketHandle s : {near_, far_, listener_})
            if (s != kNoSocket) socket_close(s);
        socket_library_stop();
    }
    void close_far() {
        socket_close(far_);
        far_ = kNoSocket;
    }

    SocketHandle listener_ = kNoSocket, near_ = kNoSocket, far_ = kNoSocket;
};

TEST_F(Pair, AHangUpWaitEndsWhenThePeerClosesAndNotBefore) {
    EXPECT_EQ(socket_set_no_delay(near_), 0);
    EXPECT_EQ(socket_set_receive_buffer(near_, 4096), 0);
    EXPECT_EQ(socket_wait_hangup(near_, 0), 0);
    EXPECT_EQ(socket_wait_hangup(near_, 50), 0);
    std::thread closer([this] {
        sleep_ms(100);
        close_far();
    });
    EXPECT_EQ(socket_wait_hangup(near_, 20000), 1);
    closer.join();
}

TEST_F(Pair, UnreadBytesDoNotEndAHangUpWaitAndStayUnread) {
    ASSERT_EQ(socket_send(far_, "abc", 3), 3);
    ASSERT_EQ(socket_wait(near_, SocketEvent::kReadable, 5000), 1);
    EXPECT_EQ(socket_wait_hangup(near_, 100), 0);
    char got[4] = {};
    EXPECT_EQ(socket_receive(near_, got, sizeof got), 3);
    EXPECT_STREQ(got, "abc");
}

TEST_F(Pair, ShutdownEndsTheConnectionForBothEnds) {
    ASSERT_EQ(socket_shutdown(near_), 0);
    char byte;
    EXPECT_LE(socket_receive(near_, &byte, 1), 0);  // never waits
    EXPECT_EQ(socket_wait_hangup(near_, 5000), 1);
    // The peer sees the end of the connection.
    ASSERT_EQ(socket_wait(far_, SocketEvent::kReadable, 5000), 1);
    EXPECT_LE(socket_receive(far_, &byte, 1), 0);
}

#ifndef _WIN32
// Windows (wine at least) leaves a wait already in progress alone.
TEST_F(Pair, ShutdownWakesAThreadWaitingToRead) {
    std::thread stopper([this] {
        sleep_ms(100);
        socket_shutdown(near_);
    });
    // Ends long before the time-out: the shutdown makes the socket readable.
    EXPECT_EQ(socket_wait(near_, SocketEvent::kReadable, 20000), 1);
    stopper.join();
}
#endif

}  // namespace
