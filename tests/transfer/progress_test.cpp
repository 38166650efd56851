#include <gtest/gtest.h>

#include "recording_view.h"
#include "terminal/progress.h"

using testing_support::RecordingView;

namespace {

// A clock that only moves when the test says so.
class StepClock final : public platform::Clock {
  public:
    uint32_t now_ms() override { return now; }
    void sleep(uint32_t ms) override { now += ms; }
    uint32_t now = 1000;
};

class Progress : public ::testing::Test {
  protected:
    void SetUp() override {
        ql::progress_reset();
        ql::progress_set_clock(&clock);
        view.bar_width = 40;  // bar of 40 characters
    }
    void TearDown() override { ql::progress_reset(); }
    RecordingView view;
    StepClock clock;
};

TEST_F(Progress, TitlesFollowTheKind) {
    const std::pair<int, const char*> cases[] = {
        {0, "SENDING: A.TXT : 1000"},
        {1, "RECEIVING: A.TXT : 1000"},
        {10, "IP SEND: A.TXT : 1000"},
        {11, "IP RECV: A.TXT : 1000"},
        {20, "FTP SEND: A.TXT : 1000"},
        {21, "FTP RECV: A.TXT : 1000"},
        {5, "A.TXT : 1000"},
    };
    for (const auto& [kind, title] : cases) {
        ql::show_progress("A.TXT", kind, 1000, 0);
        EXPECT_EQ(view.text(ql::item::kProgressTitle), title);
        EXPECT_EQ(ql::progress_network_flag(), kind > 1) << kind;
        EXPECT_EQ(view.network_flag(), kind > 1) << kind;
    }
}

TEST_F(Progress, HalfwayShowsFiftyPercentAndHalfABar) {
    ql::show_progress("A.TXT", 0, 1000, 0);
    EXPECT_EQ(ql::progress_bar_width(), 40);
    ql::show_progress("", 0, 1000, 500);
    EXPECT_EQ(view.text(ql::item::kProgressPercent), "50%    500");
    EXPECT_EQ(view.text(ql::item::kProgressBar), std::string(20, '=') + std::string(20, ' '));
}

// The view says how many "=" fill its bar; a window resized during the
// transfer gets a bar of its new width at the next count.
TEST_F(Progress, BarHasTheViewsWidthEvenAfterAResize) {
    ql::show_progress("A.TXT", 0, 1000, 0);
    ql::show_progress("", 0, 1000, 1000);
    EXPECT_EQ(view.text(ql::item::kProgressBar), std::string(40, '='));
    view.bar_width = 64;
    ql::show_progress("A.TXT", 0, 1000, 0);
    ql::show_progress("", 0, 1000, 999);
    EXPECT_EQ(view.text(ql::item::kProgressBar), std::string(63, '=') + " ");
    view.bar_width = 10;
    ql::show_progress("", 0, 1000, 1000);
    EXPECT_EQ(view.text(ql::item::kProgressBar), std::string(10, '='));
    EXPECT_EQ(ql::progress_bar_width(), 10);
}

TEST_F(Progress, EndBlanksEverythingAndClearsTheNetworkFlag) {
    ql::show_progress("A.TXT", 20, 1000, 0);
    ql::show_progress("", 20, 1000, 300);
    ql::show_progress("A.TXT", 20, 1000, -1);
    EXPECT_EQ(view.text(ql::item::kProgressTitle), " ");
    EXPECT_EQ(view.text(ql::item::kProgressPercent), " ");
    EXPECT_EQ(view.text(ql::item::kProgressBar), " ");
    EXPECT_FALSE(ql::progress_network_flag());
    EXPECT_FALSE(view.network_flag());
}

TEST_F(Progress, LargeFilesDoNotOverflow) {
    const int64_t total = int64_t{6} << 30;  // 6 GiB: done * 100 passes 2^31
    ql::show_progress("BIG", 21, total, 0);
    EXPECT_EQ(view.text(ql::item::kProgressTitle), "FTP RECV: BIG : 6442450944");
    ql::show_progress("", 21, total, total / 4);
    EXPECT_EQ(view.text(ql::item::kProgressPercent), "25%    1610612736");
    EXPECT_EQ(view.text(ql::item::kProgressBar), std::string(10, '=') + std::string(30, ' '));
}

TEST_F(Progress, UnknownTotalAndOverrunStayInsideTheBar) {
    ql::show_progress("X", 1, 0, 0);
    ql::show_progress("", 1, 0, 4096);
    EXPECT_EQ(view.text(ql::item::kProgressPercent), "4096");
    EXPECT_EQ(view.text(ql::item::kProgressBar), std::string(40, ' '));

    ql::show_progress("X", 20, 1, 0);
    ql::show_progress("", 20, 1, 123456);
    EXPECT_EQ(view.text(ql::item::kProgressPercent), "100%    123456");
    EXPECT_EQ(view.text(ql::item::kProgressBar), std::string(40, '='));
}

TEST_F(Progress, HugeBarWidthIsCappedToTheBuffer) {
    view.bar_width = 5000;
    ql::show_progress("X", 0, 10, 0);
    EXPECT_EQ(ql::progress_bar_width(), 511);
    ql::show_progress("", 0, 10, 10);
    EXPECT_EQ(view.text(ql::item::kProgressBar), std::string(511, '='));
}

TEST_F(Progress, RunningCountsAreCoalescedButStartFinalAndEndAlwaysShow) {
    ql::show_progress("A", 0, 100000, 0);
    for (int64_t done = 1000; done < 100000; done += 1000) {
        clock.now += 1;  // a thousand bytes a millisecond
        ql::show_progress("", 0, 100000, done);
    }
    // 99 calls over 99 ms: the first and the one 50 ms later.
    EXPECT_EQ(view.texts(ql::item::kProgressPercent).size(), 2u);
    ql::show_progress("", 0, 100000, 100000);  // reaches the total: always shown
    EXPECT_EQ(view.text(ql::item::kProgressPercent), "100%    100000");
    ql::show_progress("A", 0, 100000, -1);
    EXPECT_EQ(view.text(ql::item::kProgressBar), " ");

    // A new transfer shows its first count at once.
    ql::show_progress("B", 0, 10, 0);
    ql::show_progress("", 0, 10, 5);
    EXPECT_EQ(view.text(ql::item::kProgressPercent), "50%    5");
}

}  // namespace
