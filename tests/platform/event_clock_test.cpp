// Events and clocks: an event wakes its waiters from another thread and
// stays set until reset; pauses last at least as long as asked; local times
// agree with the C library's.
#include <gtest/gtest.h>

#include <ctime>
#include <thread>

#include "platform/clock.h"
#include "platform/dirs.h"
#include "platform/event.h"

namespace {

TEST(Event, StaysSetUntilResetAndTimesOutWhenNotSet) {
    platform::Event e;
    EXPECT_FALSE(e.is_set());
    uint64_t start = platform::monotonic_ms64();
    EXPECT_FALSE(e.wait(40));
    EXPECT_GE(platform::monotonic_ms64() - start, 40u);
    e.set();
    e.set();
    EXPECT_TRUE(e.is_set());
    EXPECT_TRUE(e.wait(0));
    EXPECT_TRUE(e.wait(60000));
    e.reset();
    EXPECT_FALSE(e.is_set());
    EXPECT_FALSE(e.wait(0));
    e.reset();
    EXPECT_FALSE(e.wait(1));
}

TEST(Event, ASetFromAnotherThreadWakesEveryWaiter) {
    platform::Event e;
    bool woke[2] = {false, false};
    std::thread a([&] { woke[0] = e.wait(120000); });
    std::thread b([&] { woke[1] = e.wait(120000); });
    platform::sleep_ms(30);
    e.set();
    a.join();
    b.join();
    EXPECT_TRUE(woke[0]);
    EXPECT_TRUE(woke[1]);
}

TEST(Clock, MonotonicAndPausesLastAtLeastTheirTime) {
    uint64_t a = platform::monotonic_ms64();
    uint32_t a32 = platform::monotonic_ms();
    for (uint32_t ms : {1u, 16u, 35u}) {
        uint64_t before = platform::monotonic_ms64();
        platform::sleep_ms(ms);
        EXPECT_GE(platform::monotonic_ms64() - before, ms);
    }
    EXPECT_GE(platform::monotonic_ms64(), a + 52);
    EXPECT_GE(static_cast<uint32_t>(platform::monotonic_ms() - a32), 52u);
    uint32_t before = platform::system_clock().now_ms();
    platform::system_clock().sleep(20);
    EXPECT_GE(platform::system_clock().now_ms() - before, 20u);
}

void expect_same(const platform::LocalTime& t, const std::tm& c) {
    EXPECT_EQ(t.year, c.tm_year + 1900);
    EXPECT_EQ(t.month, c.tm_mon + 1);
    EXPECT_EQ(t.day, c.tm_mday);
    EXPECT_EQ(t.hour, c.tm_hour);
    EXPECT_EQ(t.minute, c.tm_min);
    EXPECT_EQ(t.second, c.tm_sec);
    EXPECT_EQ(t.weekday, c.tm_wday);
}

TEST(Clock, LocalTimesAgreeWithTheCLibrary) {
    // Winter, summer, a leap day and the start of 1970, as the C library
    // sees them in the local time zone.
    for (int64_t s :
         {int64_t{86400}, int64_t{1719835200}, int64_t{1709208000}, int64_t{1733667845}}) {
        std::time_t t = static_cast<std::time_t>(s);
        std::tm* c = std::localtime(&t);
        ASSERT_NE(c, nullptr);
        SCOPED_TRACE(s);
        expect_same(platform::local_time_of(s), *c);
    }
    platform::LocalTime now = platform::local_now();
    EXPECT_GE(now.year, 2024);
    EXPECT_GE(now.month, 1);
    EXPECT_LE(now.month, 12);
    EXPECT_LE(now.weekday, 6);
}

}  // namespace
