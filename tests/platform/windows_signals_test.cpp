// The console control events that ask the program to stop: each reaches
// the handler, on a thread of the system's, and the handler can be
// replaced. The events are raised in this process's own console group.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/signals.h"

namespace {

// Waits up to 10 s for count to reach want.
bool reaches(const std::atomic<int>& count, int want) {
    for (int waited = 0; waited < 10000 && count.load() < want; waited += 10)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return count.load() >= want;
}

TEST(ConsoleEvents, CtrlCAndCtrlBreakReachTheHandlerAndAReplacedHandlerTakesOver) {
    std::atomic<int> first{0}, second{0};
    // Run with its output in pipes, the test has no console of its own.
    AllocConsole();
    ASSERT_EQ(platform::on_termination_request([&first] { ++first; }), 0);
    if (!GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, 0))
        GTEST_SKIP() << "this console cannot raise control events (error " << GetLastError()
                     << "; wine refuses them)";
    EXPECT_TRUE(reaches(first, 1)) << "Ctrl+Break did not reach the handler";
    ASSERT_TRUE(GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0));
    EXPECT_TRUE(reaches(first, 2)) << "Ctrl+C did not reach the handler";

    ASSERT_EQ(platform::on_termination_request([&second] { ++second; }), 0);
    ASSERT_TRUE(GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, 0));
    EXPECT_TRUE(reaches(second, 1));
    EXPECT_EQ(first.load(), 2);  // the old handler is no longer called
}

}  // namespace
