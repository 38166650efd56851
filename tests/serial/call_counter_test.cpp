// The call counter file.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <thread>

#include "serial/modem.h"
#include "serial_fixture.h"

using serial_testing::SerialTest;

namespace {

class CallCounter : public SerialTest {
  protected:
    void SetUp() override {
        SerialTest::SetUp();
        ql::modem_reset_state();
        ql::settings().workdir = dir.path() + "/";
    }
    void TearDown() override {
        ql::modem_reset_state();
        SerialTest::TearDown();
    }
    std::string record(const std::string& text) {
        std::string r = text;
        r.resize(16, '\0');
        return r;
    }
    std::string counter() { return dir.read("QLCALLNO.DAT"); }
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
    int fd = ::open(dir.file("QLCALLNO.DAT").c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);
    ql::set_call_number(5);
    ql::serial_set_time_divisor(100);  // 100 tries of 1 ms
    ql::next_call_number();
    EXPECT_EQ(ql::call_number(), 0);
    ::close(fd);
    EXPECT_EQ(counter(), record("7"));
}

TEST_F(CallCounter, TwoServersTakeTurns) {
    dir.write("QLCALLNO.DAT", record("7"));
    int fd = ::open(dir.file("QLCALLNO.DAT").c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);
    std::thread other([fd] {
        platform::sleep_ms(300);
        ::close(fd);  // the other server is done
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
