// The line's behaviour when it goes away, when a stop request wakes an idle
// read, and when bytes are given back to it; over pseudo-terminals.
#include <thread>

#include "platform/event.h"
#include "serial_fixture.h"

using serial_testing::elapsed;
using serial_testing::SerialTest;

namespace {

TEST(Event, WaitsItsTimeOrReturnsAsSoonAsItIsSet) {
    platform::Event event;
    EXPECT_FALSE(event.is_set());
    uint64_t start = platform::monotonic_ms64();
    EXPECT_FALSE(event.wait(150));
    EXPECT_GE(elapsed(start), 145u);

    std::thread setter([&event] {
        platform::sleep_ms(100);
        event.set();
    });
    start = platform::monotonic_ms64();
    EXPECT_TRUE(event.wait(10000));
    EXPECT_LT(elapsed(start), 5000u);
    setter.join();

    // It stays set (a second set changes nothing) until it is reset.
    event.set();
    EXPECT_TRUE(event.wait(0));
    event.reset();
    EXPECT_FALSE(event.is_set());
    EXPECT_FALSE(event.wait(20));
    event.reset();  // resetting a lowered event is harmless
    event.set();
    EXPECT_TRUE(event.is_set());
}

class LineEvents : public SerialTest {
  protected:
    ql::Port* port = nullptr;
    void TearDown() override {
        ql::port_close(port);
        SerialTest::TearDown();
    }
};

TEST_F(LineEvents, AnIdleReadEndsSoonAfterTheWakeEventIsRaised) {
    port = open_pty();
    ASSERT_NE(port, nullptr);
    platform::Event wake;
    std::thread raiser([&wake] {
        platform::sleep_ms(200);
        wake.set();
    });
    char buffer[129];
    uint64_t start = platform::monotonic_ms64();
    EXPECT_EQ(ql::port_read(port, buffer, 128, 20000, ql::kNoBlockHint, &wake), 0);
    EXPECT_LT(elapsed(start), 5000u);  // not the 20 s of the time-out
    raiser.join();

    // Raised already: the read does not wait at all, and bytes that are
    // waiting are not lost by it.
    pty.write("DATA");
    platform::sleep_ms(50);
    start = platform::monotonic_ms64();
    int n = ql::port_read(port, buffer, 128, 20000, ql::kNoBlockHint, &wake);
    EXPECT_LT(elapsed(start), 5000u);
    std::string got(buffer, static_cast<size_t>(n));
    if (n == 0) {
        n = ql::port_read(port, buffer, 128, 2000, ql::kNoBlockHint);
        got.assign(buffer, static_cast<size_t>(n));
    }
    EXPECT_EQ(got, "DATA");
}

TEST_F(LineEvents, AReadWithoutWakeIgnoresTheEvent) {
    port = open_pty();
    ASSERT_NE(port, nullptr);
    ql::server_state().stop_request = true;  // what a transfer's reads must not see
    char buffer[129];
    uint64_t start = platform::monotonic_ms64();
    EXPECT_EQ(ql::port_read(port, buffer, 128, 300, ql::kNoBlockHint), 0);
    EXPECT_GE(elapsed(start), 290u);
}

TEST_F(LineEvents, ALostLineIsReportedAndEachReadWaitsOutItsTimeOut) {
    for (bool alt : {false, true}) {
        SCOPED_TRACE(alt ? "alt read mode" : "normal read mode");
        ql::settings().altread = alt;
        ql::port_reset_state();
        testing_support::PtyPair line;
        ASSERT_TRUE(line.ok());
        std::unique_ptr<platform::SerialDevice> device;
        ASSERT_EQ(platform::serial_open(line.slave_path(), device), 0);
        ql::Port* lost = ql::port_from_device(std::move(device));
        ASSERT_NE(lost, nullptr);
        EXPECT_FALSE(ql::port_lost(lost));

        line.close_master();
        char buffer[129];
        uint64_t start = platform::monotonic_ms64();
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(ql::port_read(lost, buffer, 128, 200, ql::kNoBlockHint), 0);
        EXPECT_GE(elapsed(start), 580u);  // three whole time-outs, no spin
        EXPECT_TRUE(ql::port_lost(lost));

        // An idle read on the lost line still ends on its wake event.
        platform::Event wake;
        wake.set();
        start = platform::monotonic_ms64();
        EXPECT_EQ(ql::port_read(lost, buffer, 128, 20000, ql::kNoBlockHint, &wake), 0);
        EXPECT_LT(elapsed(start), 5000u);
        ql::port_close(lost);
    }
}

TEST_F(LineEvents, AQuietLineIsNotLost) {
    port = open_pty();
    ASSERT_NE(port, nullptr);
    char buffer[129];
    EXPECT_EQ(ql::port_read(port, buffer, 128, 100, ql::kNoBlockHint), 0);
    EXPECT_FALSE(ql::port_lost(port));
}

TEST_F(LineEvents, BytesGivenBackAreReadFirst) {
    for (bool alt : {false, true}) {
        SCOPED_TRACE(alt ? "alt read mode" : "normal read mode");
        ql::settings().altread = alt;
        ql::settings().interchardelay = 100;
        ql::port_reset_state();
        ql::Port* p = open_pty();
        ASSERT_NE(p, nullptr);
        char buffer[129];
        // A one-byte answer comes from what was given back, at once.
        ql::port_unread(p, "CX", 2);
        uint64_t start = platform::monotonic_ms64();
        EXPECT_EQ(ql::port_read(p, buffer, 1, 30000, ql::kNoBlockHint), 1);
        EXPECT_EQ(buffer[0], 'C');
        EXPECT_LT(elapsed(start), 5000u);
        // The rest comes before the line's own bytes, in one read with them.
        pty.write("YZ");
        EXPECT_EQ(ql::port_read(p, buffer, 128, 3000, ql::kNoBlockHint), 3);
        EXPECT_STREQ(buffer, "XYZ");
        ql::port_close(p);
    }
}

}  // namespace
