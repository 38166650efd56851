// The server's timed port reads over a Windows COM port: the first port of
// QL_COM_PAIR is wrapped as the server's port, the second plays the
// terminal. Without the pair (made by the test launcher) the tests skip.
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "foundation/log.h"
#include "foundation/server_state.h"
#include "foundation/settings.h"
#include "platform/clock.h"
#include "platform/event.h"
#include "platform/serial.h"
#include "serial/port.h"

namespace {

uint64_t elapsed(uint64_t start) {
    return platform::monotonic_ms64() - start;
}

class ComPortReads : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* pair = std::getenv("QL_COM_PAIR");
        if (pair == nullptr)
            GTEST_SKIP() << "QL_COM_PAIR is not set (no COM link from the launcher)";
        std::string server_name, terminal_name;
        std::istringstream(pair) >> server_name >> terminal_name;
        ASSERT_FALSE(terminal_name.empty()) << pair;
        ql::settings_reset_defaults();
        ql::log_reset();
        ql::server_state_reset();
        ql::port_reset_state();
        std::unique_ptr<platform::SerialDevice> device;
        ASSERT_EQ(platform::serial_open(server_name, device), 0);
        ASSERT_EQ(platform::serial_open(terminal_name, terminal_), 0);
        ASSERT_EQ(terminal_->configure(platform::SerialConfig{}), 0);
        port_ = ql::port_from_device(std::move(device));
        ASSERT_NE(port_, nullptr);
        char scrap[256];  // what an earlier test left on the line
        while (ql::port_read(port_, scrap, 255, 50, ql::kNoBlockHint) > 0) {
        }
    }
    void TearDown() override {
        ql::port_close(port_);
        ql::port_reset_state();
        ql::log_reset();
    }

    // The terminal writes the bytes one at a time with a pause between.
    std::thread trickle(const std::string& bytes, int gap_ms) {
        return std::thread([this, bytes, gap_ms] {
            for (char c : bytes) {
                terminal_->write(&c, 1);
                platform::sleep_ms(static_cast<uint32_t>(gap_ms));
            }
        });
    }

    ql::Port* port_ = nullptr;
    std::unique_ptr<platform::SerialDevice> terminal_;
};

}  // namespace

TEST_F(ComPortReads, ReadWaitsThroughShortGapsUntilMaxBytes) {
    ql::settings().interchardelay = 400;
    char buffer[7];
    std::thread writer = trickle("ABCDEFGH", 30);
    int n = ql::port_read(port_, buffer, 6, 10000, ql::kNoBlockHint);
    writer.join();
    EXPECT_EQ(n, 6);
    EXPECT_STREQ(buffer, "ABCDEF");
}

TEST_F(ComPortReads, ReadEndsAtTheTotalTimeOutWhileBytesKeepComing) {
    ql::settings().interchardelay = 400;
    char buffer[201];
    std::thread writer = trickle(std::string(60, 'x'), 25);
    uint64_t start = platform::monotonic_ms64();
    int n = ql::port_read(port_, buffer, 200, 600, ql::kNoBlockHint);
    uint64_t took = elapsed(start);
    writer.join();
    EXPECT_GT(n, 3);
    EXPECT_LT(n, 60);
    EXPECT_GE(took, 550u);
    EXPECT_LT(took, 4000u);
}

TEST_F(ComPortReads, ReadEndsAtTheFirstLongGapAndSilenceGivesZero) {
    ql::settings().interchardelay = 100;
    char buffer[65];
    ASSERT_EQ(terminal_->write("XYZ", 3), 3);
    uint64_t start = platform::monotonic_ms64();
    EXPECT_EQ(ql::port_read(port_, buffer, 64, 5000, ql::kNoBlockHint), 3);
    EXPECT_LT(elapsed(start), 3000u);
    EXPECT_STREQ(buffer, "XYZ");
    start = platform::monotonic_ms64();
    EXPECT_EQ(ql::port_read(port_, buffer, 64, 300, ql::kNoBlockHint), 0);
    EXPECT_GE(elapsed(start), 250u);
    EXPECT_EQ(buffer[0], 0);
}

TEST_F(ComPortReads, ByteReaderStopsAfterTheGapAndAtHintPlus132) {
    ql::settings().altread = true;
    ql::settings().interchardelay = 150;
    char buffer[301];
    ASSERT_EQ(terminal_->write("abc", 3), 3);
    uint64_t start = platform::monotonic_ms64();
    EXPECT_EQ(ql::port_read(port_, buffer, 128, 5000, ql::kNoBlockHint), 3);
    EXPECT_GE(elapsed(start), 120u);
    EXPECT_STREQ(buffer, "abc");

    std::string block(300, 'd');
    block[0] = 0x01;
    ASSERT_EQ(terminal_->write(block.data(), block.size()), 300);
    EXPECT_EQ(ql::port_read(port_, buffer, 300, 5000, 128), 260);
    EXPECT_EQ(ql::port_read(port_, buffer, 300, 2000, ql::kNoBlockHint), 40);
}

// A stop request ends the wait for a frame at once, and a frame that comes
// after it is read whole by the next read.
TEST_F(ComPortReads, WakeEndsTheWaitAndTheNextFrameIsWhole) {
    platform::Event wake;
    std::thread waker([&] {
        platform::sleep_ms(200);
        wake.set();
    });
    char buffer[65];
    uint64_t start = platform::monotonic_ms64();
    EXPECT_EQ(ql::port_read(port_, buffer, 64, 30000, ql::kNoBlockHint, &wake), 0);
    EXPECT_LT(elapsed(start), 10000u);
    waker.join();
    wake.reset();

    ASSERT_EQ(terminal_->write("frame", 5), 5);
    EXPECT_EQ(ql::port_read(port_, buffer, 5, 5000, ql::kNoBlockHint, &wake), 5);
    EXPECT_STREQ(buffer, "frame");
}
