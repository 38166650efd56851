// Failures: a locked inventory file, full disks, unreadable and undeletable
// data files. After any failure the data file is as it was and the inventory
// file holds no record of this run, so the next run converts everything once.
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <functional>

#include <gtest/gtest.h>

#include "rowsmith/convert.h"
#include "scratch.h"

namespace {

using rowsmith::ConvertOutcome;
using rowsmith::ConvertSettings;
using rowsmith::Message;
using rowsmith_test::LockHolder;
using rowsmith_test::Scratch;

const char* kExisting = "EXISTING,HEADER\r\nold,record\r\n";

class Failure : public ::testing::Test {
  protected:
    void SetUp() override {
        data = dir.write("DATA.TXT", rowsmith_test::numbered_lines(50));
        csv = dir.write("DEVSCAN.CSV", kExisting);
        settings.show = [this](const Message& m) { messages.push_back(m); };
        settings.open_attempts = 5;
        settings.wait_before_retry = [this] {
            ++waits;
            if (on_wait) on_wait(waits);
        };
    }
    ConvertOutcome run(const std::string& source, const std::string& target) {
        return rowsmith::convert(source, target, settings);
    }
    void expect_untouched() {
        EXPECT_EQ(dir.read("DATA.TXT"), rowsmith_test::numbered_lines(50));
        EXPECT_EQ(dir.read("DEVSCAN.CSV"), kExisting);
    }

    Scratch dir;
    std::string data, csv;
    ConvertSettings settings;
    std::vector<Message> messages;
    int waits = 0;
    std::function<void(int)> on_wait;
};

TEST_F(Failure, LockedTargetIsRetriedThenGivenUp) {
    LockHolder other(csv);
    ASSERT_TRUE(other.holding());
    ConvertOutcome outcome = run(data, csv);
    EXPECT_EQ(outcome.result, rowsmith::kTargetLocked);
    EXPECT_EQ(waits, 4);  // five attempts, a wait between each two
    expect_untouched();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].caption, "OPEN ERROR");
    EXPECT_EQ(messages[0].text,
              "File open failed\r\n" + csv + "\r\nRC = " + std::to_string(EWOULDBLOCK));
}

TEST_F(Failure, TargetReleasedDuringRetriesIsConverted) {
    LockHolder other(csv);
    on_wait = [&](int n) {
        if (n == 3) other.release();
    };
    ConvertOutcome outcome = run(data, csv);
    EXPECT_EQ(outcome.result, 0);
    EXPECT_EQ(waits, 3);
    EXPECT_EQ(outcome.lines, 50);
    EXPECT_FALSE(dir.exists("DATA.TXT"));
    std::string now = dir.read("DEVSCAN.CSV");
    EXPECT_EQ(now.rfind(kExisting, 0), 0u);
    const std::string last = "TAG49,,NEXT,,,LOC49,,,,,,O,N,,,,,,,,\r\n";
    EXPECT_EQ(now.substr(now.size() - last.size()), last);
}

TEST_F(Failure, OtherOpenErrorEndsRetriesAtOnce) {
    ConvertOutcome outcome = run(data, dir.path("no-such-folder/DEVSCAN.CSV"));
    EXPECT_EQ(outcome.result, rowsmith::kTargetOpenFailed);
    EXPECT_EQ(outcome.system_error, ENOENT);
    EXPECT_EQ(waits, 0);
    expect_untouched();
}

TEST_F(Failure, SourceHeldByAWriterIsNotConverted) {
    LockHolder writer(data);
    ConvertOutcome outcome = run(data, csv);
    EXPECT_EQ(outcome.result, rowsmith::kSourceOpenFailed);
    EXPECT_EQ(outcome.system_error, EWOULDBLOCK);
    expect_untouched();
}

TEST_F(Failure, FullDeviceFailsTheHeaderAndKeepsTheSource) {
    ConvertOutcome outcome = run(data, "/dev/full");
    EXPECT_EQ(outcome.result, rowsmith::kHeaderWriteFailed);
    EXPECT_EQ(outcome.system_error, ENOSPC);
    EXPECT_EQ(outcome.lines, 0);
    expect_untouched();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].caption, "WRITE ERROR");
    EXPECT_EQ(messages[0].text, "File write failed\r\n/dev/full\r\nRC = " + std::to_string(ENOSPC));
}

// A file-size limit stands in for a disk that fills up part-way through.
TEST_F(Failure, DiskFullingPartWayRollsTheTargetBack) {
    std::string big = rowsmith_test::numbered_lines(20000);
    dir.write("DATA.TXT", big);
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit = {200000, 200000};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        ConvertOutcome outcome = rowsmith::convert(data, csv, ConvertSettings{});
        bool ok = outcome.result == rowsmith::kRecordWriteFailed && outcome.system_error == EFBIG;
        ::_exit(ok ? 0 : 10 - outcome.result);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "10 - result of the conversion";
    EXPECT_EQ(dir.read("DATA.TXT"), big);
    EXPECT_EQ(dir.read("DEVSCAN.CSV"), kExisting);
}

TEST_F(Failure, ReadErrorKeepsEverything) {
    // Reading a process's memory at address 0 fails with an I/O error.
    ConvertOutcome outcome = run("/proc/self/mem", csv);
    EXPECT_EQ(outcome.result, rowsmith::kSourceReadFailed);
    EXPECT_EQ(outcome.system_error, EIO);
    expect_untouched();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].caption, "READ ERROR");
}

TEST_F(Failure, UndeletableSourceTakesTheRecordsBackOut) {
    // Files of /proc can be read line by line but never deleted.
    ConvertOutcome outcome = run("/proc/self/status", csv);
    EXPECT_EQ(outcome.result, rowsmith::kSourceRemoveFailed);
    EXPECT_EQ(outcome.lines, 0);
    EXPECT_EQ(dir.read("DEVSCAN.CSV"), kExisting);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].caption, "DELETE ERROR");
    EXPECT_EQ(messages[0].text.rfind("File delete failed\r\n/proc/self/status\r\nRC = ", 0), 0u);
}

TEST_F(Failure, SourceReplacedWhileWaitingForTheLockIsTheOneConverted) {
    // The data file is read only once the inventory file is held: an upload
    // that took DATA.TXT's name while the run waited is what gets converted
    // (and removed), never the file that was there when the run started.
    LockHolder other(csv);
    on_wait = [&](int n) {
        if (n != 1) return;
        dir.write("NEW.TXT", "fresh,upload\n");
        ::rename(dir.path("NEW.TXT").c_str(), data.c_str());
        other.release();
    };
    ConvertOutcome outcome = run(data, csv);
    EXPECT_EQ(outcome.result, 0);
    EXPECT_EQ(outcome.lines, 1);
    EXPECT_FALSE(dir.exists("DATA.TXT"));
    EXPECT_EQ(dir.read("DEVSCAN.CSV"),
              std::string(kExisting) + "upload,,NEXT,,,fresh,,,,,,O,N,,,,,,,,\r\n");
}

TEST_F(Failure, SourceGoneWhileWaitingForTheLockConvertsNothing) {
    // Another run converted and removed it first.
    LockHolder other(csv);
    on_wait = [&](int n) {
        if (n != 1) return;
        ::unlink(data.c_str());
        other.release();
    };
    ConvertOutcome outcome = run(data, csv);
    EXPECT_EQ(outcome.result, rowsmith::kSourceOpenFailed);
    EXPECT_EQ(outcome.system_error, ENOENT);
    EXPECT_EQ(outcome.lines, 0);
    EXPECT_EQ(dir.read("DEVSCAN.CSV"), kExisting);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text,
              "File open failed\r\n" + data + "\r\nRC = " + std::to_string(ENOENT));
}

}  // namespace
