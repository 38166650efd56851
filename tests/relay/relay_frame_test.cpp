// The frame layer against a raw peer (one end of a loopback socket pair):
// length field, sequence byte, mismatches, and frames the buffers cannot
// hold.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "foundation/log.h"
#include "foundation/server_state.h"
#include "loopback.h"
#include "network/relay.h"
#include "recording_view.h"

namespace {

class FrameTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ql::log_reset();
        ql::relay_reset();
        ASSERT_TRUE(testing_support::loopback_pair(ours, peer));
    }
    void TearDown() override {
        close_peer();
        if (ours != platform::kNoSocket) platform::socket_close(ours);
        ql::relay_reset();
    }

    // The peer writes raw bytes.
    void put(const std::string& bytes) {
        size_t done = 0;
        while (done < bytes.size() &&
               platform::socket_wait(peer, platform::SocketEvent::kWritable, 5000) == 1) {
            long n = platform::socket_send(peer, bytes.data() + done, bytes.size() - done);
            if (n <= 0 && !platform::socket_would_block()) break;
            if (n > 0) done += static_cast<size_t>(n);
        }
        ASSERT_EQ(done, bytes.size());
    }
    // The peer ends its side: the client reads the end of the stream.
    void end_peer() { platform::socket_shutdown(peer); }
    void close_peer() {
        if (peer != platform::kNoSocket) platform::socket_close(peer);
        peer = platform::kNoSocket;
    }
    // A well-formed frame with the given sequence byte.
    static std::string frame(uint8_t seq, const std::string& payload) {
        char head[8];
        std::snprintf(head, sizeof head, "%4.4d", static_cast<int>(payload.size() + 1));
        return std::string(head, 4) + static_cast<char>(seq) + payload;
    }
    // Reads what the client sent.
    std::string take(size_t n) {
        std::string s(n, '\0');
        size_t got = 0;
        while (got < n &&
               platform::socket_wait(peer, platform::SocketEvent::kReadable, 5000) == 1) {
            long r = platform::socket_receive(peer, s.data() + got, n - got);
            if (r == 0 || (r < 0 && !platform::socket_would_block())) break;
            if (r > 0) got += static_cast<size_t>(r);
        }
        s.resize(got);
        return s;
    }
    int receive(std::string& payload, size_t capacity = 2052, int timeout_ms = 2000) {
        std::string buf(capacity, '#');
        size_t length = 99;
        int rc = ql::relay_receive_frame(ours, buf.data(), capacity, length, timeout_ms);
        payload.assign(buf.data(), rc == 0 ? length : 0);
        return rc;
    }

    platform::SocketHandle ours = platform::kNoSocket;
    platform::SocketHandle peer = platform::kNoSocket;
};

TEST_F(FrameTest, RequestOf150IsEightBytesAndLeavesTheCounter) {
    ql::relay_set_sequence(42);
    ASSERT_EQ(ql::relay_send_frame(ours, "150", 3), 0);
    EXPECT_EQ(take(8), std::string("0004") + '\x2a' + "150");
    EXPECT_EQ(ql::relay_sequence(), 42);
}

TEST_F(FrameTest, LongestPayloadFitsAndLongerIsRefused) {
    std::string payload(ql::kRelayMaxPayload, 'x');
    ASSERT_EQ(ql::relay_send_frame(ours, payload.data(), payload.size()), 0);
    EXPECT_EQ(take(4), "2052");
    take(ql::kRelayMaxPayload + 1);
    std::string longer(ql::kRelayMaxPayload + 1, 'x');
    EXPECT_EQ(ql::relay_send_frame(ours, longer.data(), longer.size()),
              ql::relay_result::kSendFailed);
}

TEST_F(FrameTest, MatchingFrameIsDeliveredAndMovesTheCounter) {
    put(frame(0, "000HELLO"));
    std::string p;
    ASSERT_EQ(receive(p), 0);
    EXPECT_EQ(p, "000HELLO");
    EXPECT_EQ(ql::relay_sequence(), 1);
}

TEST_F(FrameTest, OneMismatchIsDroppedTwoGiveMinus11) {
    put(frame(9, "000OLD") + frame(0, "000NEW"));
    std::string p;
    ASSERT_EQ(receive(p), 0);
    EXPECT_EQ(p, "000NEW");
    EXPECT_EQ(ql::relay_sequence(), 1);

    put(frame(7, "000A") + frame(8, "000B") + frame(1, "000C"));
    EXPECT_EQ(receive(p), ql::relay_result::kSequence);
    EXPECT_EQ(ql::relay_sequence(), 1);
    // The third frame is still there for the next call.
    ASSERT_EQ(receive(p), 0);
    EXPECT_EQ(p, "000C");
}

TEST_F(FrameTest, CounterWrapsFrom255To0) {
    ql::relay_set_sequence(255);
    put(frame(255, "000") + frame(0, "000"));
    std::string p;
    ASSERT_EQ(receive(p), 0);
    EXPECT_EQ(ql::relay_sequence(), 0);
    ASSERT_EQ(receive(p), 0);
    EXPECT_EQ(ql::relay_sequence(), 1);
}

TEST_F(FrameTest, LengthFieldSplitAcrossReadsIsCompleted) {
    put("00");
    std::thread later([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        put("04");
        put(std::string(1, '\0') + "000");
    });
    std::string p;
    EXPECT_EQ(receive(p), 0);
    later.join();
    EXPECT_EQ(p, "000");
}

TEST_F(FrameTest, NothingToReadGivesMinus9) {
    std::string p;
    EXPECT_EQ(receive(p, 2052, 50), ql::relay_result::kNoHeader);  // silent peer
    close_peer();
    EXPECT_EQ(receive(p), ql::relay_result::kNoHeader);  // closed peer
}

TEST_F(FrameTest, CutLengthFieldAndCutBodyGiveMinus7) {
    put("00");
    end_peer();
    std::string p;
    EXPECT_EQ(receive(p), ql::relay_result::kShortHeader);
}

TEST_F(FrameTest, PeerClosingInsideTheBodyEndsTheRead) {
    put("0100");
    put(std::string(1, '\0') + "000 only a part");
    end_peer();
    std::string p;
    EXPECT_EQ(receive(p), ql::relay_result::kShortHeader);
    EXPECT_EQ(ql::relay_sequence(), 0);
}

// A frame that trickles in a byte every 20 ms used to be waited for as long
// as the bytes came (each read had its own time-out); now the whole frame
// must arrive within the time-out, and a stop ends the wait at once.
TEST_F(FrameTest, TrickledFrameIsBoundedByTheTimeOutAndByAStop) {
    for (bool stop : {false, true}) {
        SCOPED_TRACE(stop ? "stop" : "time-out");
        std::atomic<bool> done{false};
        std::thread trickle([&] {
            const std::string bytes = frame(0, "000" + std::string(400, 'x'));
            for (char b : bytes) {
                if (done || platform::socket_send(peer, &b, 1) != 1) break;
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        });
        std::thread stopper;
        if (stop) {
            stopper = std::thread([] {
                std::this_thread::sleep_for(std::chrono::milliseconds(300));
                ql::server_state().stop_request = true;
            });
        }
        const auto start = std::chrono::steady_clock::now();
        std::string p;
        int rc = receive(p, 2052, stop ? 60000 : 500);
        const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
                              std::chrono::steady_clock::now() - start)
                              .count();
        done = true;
        trickle.join();
        if (stopper.joinable()) stopper.join();
        ql::server_state().stop_request = false;
        EXPECT_EQ(rc, ql::relay_result::kShortHeader);
        EXPECT_LT(took, 5000);  // the whole frame would take 8 s
        // A fresh pair for the next round: this one holds the rest of the frame.
        close_peer();
        platform::socket_close(ours);
        ASSERT_TRUE(testing_support::loopback_pair(ours, peer));
        ql::relay_reset();
    }
}

TEST_F(FrameTest, ZeroLengthIsRefused) {
    put("0000");
    std::string p;
    EXPECT_EQ(receive(p), ql::relay_result::kShortHeader);
    put("abcd");
    EXPECT_EQ(receive(p), ql::relay_result::kShortHeader);
}

TEST_F(FrameTest, BodyLongerThanTheFrameBufferIsDroppedAndTheLinkStaysInStep) {
    std::thread writer([&] { put(frame(0, std::string(3000, 'z')) + frame(1, "000AFTER")); });
    std::string p;
    EXPECT_EQ(receive(p), ql::relay_result::kFrameTooLong);
    ASSERT_EQ(receive(p), 0);
    writer.join();
    EXPECT_EQ(p, "000AFTER");
    EXPECT_EQ(ql::relay_sequence(), 2);
}

TEST_F(FrameTest, PayloadLongerThanTheCallersBufferIsNeverCopiedPastIt) {
    put(frame(0, "000THIS IS TOO LONG") + frame(1, "000OK"));
    char buf[16];
    std::memset(buf, '#', sizeof buf);
    size_t length = 0;
    EXPECT_EQ(ql::relay_receive_frame(ours, buf, 8, length, 1000), ql::relay_result::kFrameTooLong);
    for (size_t i = 8; i < sizeof buf; ++i) EXPECT_EQ(buf[i], '#') << i;
    // Exactly fitting: 5 payload bytes and the terminator in 6.
    EXPECT_EQ(ql::relay_receive_frame(ours, buf, 6, length, 1000), 0);
    EXPECT_STREQ(buf, "000OK");
    EXPECT_EQ(buf[6], '#');
}

TEST_F(FrameTest, RequestLogsReadAndWriteErrors) {
    testing_support::RecordingView view;
    char reply[64];
    size_t length = 0;
    ql::relay_set_timeouts(50, 50);
    EXPECT_EQ(ql::relay_request(ours, "260X", 4, reply, sizeof reply, length),
              ql::relay_result::kNoHeader);
    EXPECT_TRUE(view.has_line("IP:Socket Read Error RC=-9"));
    EXPECT_EQ(ql::relay_request(-1, "260X", 4, reply, sizeof reply, length),
              ql::relay_result::kSendFailed);
    EXPECT_TRUE(view.has_line("IP:Socket Write Error RC=-8"));
}

TEST(RelayFields, SplitKeepsFourFieldsOf63) {
    std::string reply(70, 'a');
    reply += ",b,,d,e";
    ql::relay_split_fields(reply.c_str());
    EXPECT_EQ(ql::relay_reply_field(0), std::string(63, 'a'));
    EXPECT_EQ(ql::relay_reply_field(1), "b");
    EXPECT_EQ(ql::relay_reply_field(2), "");
    EXPECT_EQ(ql::relay_reply_field(3), "d");
    ql::relay_split_fields("");
    for (int i = 0; i < 4; ++i) EXPECT_EQ(ql::relay_reply_field(i), "");
}

TEST(RelayCode, LeadingDigitsOfTheFirstThree) {
    EXPECT_EQ(ql::relay_reply_code("000V", 4), 0);
    EXPECT_EQ(ql::relay_reply_code("888", 3), 888);
    EXPECT_EQ(ql::relay_reply_code("99", 2), 99);
    EXPECT_EQ(ql::relay_reply_code("5x1", 3), 5);
    EXPECT_EQ(ql::relay_reply_code("V00", 3), 0);
    EXPECT_EQ(ql::relay_reply_code("12345", 5), 123);
}

}  // namespace
