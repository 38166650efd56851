// The call counter file. Built for every OS: another server holding the
// file is played through the platform's own exclusive open.
#include <gtest/gtest.h>

#include <thread>

#include "foundation/log.h"
#include "foundation/server_state.h"
#include "foundation/settings.h"
#include "platform/clock.h"
#include "platform/file_handle.h"
#include "recording_view.h"
#include "serial/modem.h"
#include "serial/port.h"
#include "temp_dir.h"

namespace {

class CallCounter : public ::testing::Test {
  protected:
    void SetUp() override {
        ql::settings_reset_defaults();
        ql::log_reset();
        ql::server_state_reset();
        ql::serial_set_time_divisor(1);
        ql::server_paths_set(dir.path(), "");
        ql::modem_reset_state();
        ql::settings().workdir = dir.path() + "/";
    }
    void TearDown() override {
        ql::modem_reset_state();
        ql::serial_set_time_divisor(1);
        ql::log_reset();
    }
    // Holds the counter file as another server would.
    platform::FileHandle hold_counter() {
        platform::FileHandle h = platform::kNoFile;
        bool busy = false;
        EXPECT_EQ(platform::file_open_exclusive(dir.file("QLCALLNO.DAT"), {.read = true}, h, busy),
                  0);
        return h;
    }
    std::string record(const std::string& text) {
        std::string r = text;
        r.resize(16, '\0');
        return r;
    }
    std::string counter() { return dir.read("QLCALLNO.DAT"); }

    testing_support::TempDir dir;
    testing_support::RecordingView view;
};

TEST_F(CallCounter, ANewFileGivesCallOneAndHoldsTwo) {
    ql::log_state().verbosity = 2;
    ql::next_call_number();
    EXPECT_EQ(ql::call_number(), 1);
    EXPECT_EQ(counter(), record("2"));
    EXPECT_TRUE(view.has_line("Call Number: [1]"));
    ql::next_call_number();
    EXPECT_EQ(ql::call_number(), 2);
    EXPECT_EQ(counter(), record("3"));
}

TEST_F(CallCounter, TheNumberWrapsAfter99999) {
    dir.write("QLCALLNO.DAT", record("99999"));
    ql::next_call_number();
    EXPECT_EQ(ql::call_number(), 99999);
    EXPECT_EQ(counter(), record("1"));
}

TEST_F(CallCounter, TextWithoutDigitsGivesZeroAndRestartsAtOne) {
    dir.write("QLCALLNO.DAT", "abc");
    ql::next_call_number();
    EXPECT_EQ(ql::call_number(), 0);
    EXPECT_EQ(counter(), record("1"));
}

TEST_F(CallCounter, LeadingDigitsCountAndAnEmptyFileStartsAtOne) {
    dir.write("QLCALLNO.DAT", "41\r\nrest of a longer file");
    ql::next_call_number();
    EXPECT_EQ(ql::call_number(), 41);
    // Only the first 16 bytes are the record; the rest stays.
    EXPECT_EQ(counter().substr(0, 16), record("42"));
    dir.write("QLCALLNO.DAT", "");
    ql::next_call_number();
    EXPECT_EQ(ql::call_number(), 1);
}

TEST_F(CallCounter, AFileHeldByAnotherServerGivesNumberZeroAfterTheRetries) {
    dir.write("QLCALLNO.DAT", record("7"));
    platform::FileHandle held = hold_counter();
    ASSERT_NE(held, platform::kNoFile);
    ql::set_call_number(5);
    ql::serial_set_time_divisor(100);  // 100 tries of 1 ms
    ql::next_call_number();
    EXPECT_EQ(ql::call_number(), 0);
    platform::file_close(held);
    EXPECT_EQ(counter(), record("7"));
}

TEST_F(CallCounter, TwoServersTakeTurns) {
    dir.write("QLCALLNO.DAT", record("7"));
    platform::FileHandle held = hold_counter();
    ASSERT_NE(held, platform::kNoFile);
    std::thread other([&held] {
        platform::sleep_ms(300);
        platform::file_close(held);  // the other server is done
    });
    ql::next_call_number();
    other.join();
    EXPECT_EQ(ql::call_number(), 7);
    EXPECT_EQ(counter(), record("8"));
}

TEST_F(CallCounter, AMissingWorkingDirectoryGivesZero) {
    ql::settings().workdir = dir.file("gone") + "/";
    ql::set_call_number(3);
    ql::next_call_number();
    EXPECT_EQ(ql::call_number(), 0);
}

}  // namespace
