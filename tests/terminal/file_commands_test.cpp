// CWD, DIR, COPY, APPEND, DELETE and the file services behind them.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <time.h>
#include <unistd.h>
#include <utime.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <thread>

#include "file_size_limit.h"
#include "temp_dir.h"
#include "terminal/commands.h"

using testing_support::TempDir;

namespace {

class FileCommands : public ::testing::Test {
  protected:
    void SetUp() override {
        ql::commands_reset();
        ql::command_timings().copy_retry_ms = 10;
        s.workdir = dir.path() + "/";
    }
    void TearDown() override { ql::commands_reset(); }
    std::string path(const std::string& name) const { return dir.file(name); }

    TempDir dir;
    ql::Session s;
    ql::CommandReply reply;
};

// Holds an exclusive lock on a file the way another program would.
class Holder {
  public:
    explicit Holder(const std::string& path) : fd_(::open(path.c_str(), O_RDWR | O_CREAT, 0666)) {
        ::flock(fd_, LOCK_EX);
    }
    ~Holder() { ::close(fd_); }
    void release() { ::flock(fd_, LOCK_UN); }

  private:
    int fd_;
};

TEST_F(FileCommands, CwdToMissingFolderFailsAndReturnsToWorkdir) {
    std::filesystem::create_directory(path("Sub"));
    dir.write("A.TXT", "top");
    ql::cmd_cwd(s, "sub", reply);
    EXPECT_EQ(reply.line(), "0");
    EXPECT_EQ(s.subdir, "sub/");

    ql::cmd_cwd(s, "missing", reply);
    EXPECT_EQ(reply.line(), "1 " + s.workdir + "missing INVALID DIRECTORY");
    EXPECT_EQ(s.subdir, "");
    EXPECT_EQ(ql::file_size(ql::full_name(s, "a.txt")), 3);
}

TEST_F(FileCommands, CwdIsRelativeToWorkdirAndKeepsOneSeparator) {
    std::filesystem::create_directories(path("Sub/Deeper"));
    ql::cmd_cwd(s, "SUB\\", reply);
    EXPECT_EQ(s.subdir, "SUB/");
    // Not relative to the current subdirectory.
    ql::cmd_cwd(s, "Deeper", reply);
    EXPECT_EQ(reply.status, '1');
    ql::cmd_cwd(s, "Sub\\Deeper", reply);
    EXPECT_EQ(s.subdir, "Sub/Deeper/");
    ql::cmd_cwd(s, "", reply);
    EXPECT_EQ(reply.line(), "0");
    EXPECT_EQ(s.subdir, "");
}

TEST_F(FileCommands, FileSizeCountsOnlyReadableRegularFiles) {
    dir.write("empty", "");
    dir.write("full", std::string(1234, 'x'));
    std::filesystem::create_directory(path("folder"));
    EXPECT_EQ(ql::file_size(path("missing")), 0);
    EXPECT_EQ(ql::file_size(path("empty")), 0);
    EXPECT_EQ(ql::file_size(path("folder")), 0);
    EXPECT_EQ(ql::file_size(path("full")), 1234);
}

TEST_F(FileCommands, ListingLineLayout) {
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    int64_t when = 1709629620;  // 2024-03-05 09:07 UTC
    EXPECT_EQ(ql::listing_line("A.TXT", 1234, when),
              "-rwxrwxrwx  1  hbr       hbr     1234 Mar 05 09:07 A.TXT\n");
    // Precision 0: an empty file leaves the size column blank.
    EXPECT_EQ(ql::listing_line("E", 0, when),
              "-rwxrwxrwx  1  hbr       hbr          Mar 05 09:07 E\n");
    EXPECT_EQ(ql::listing_line("B", 123456789, when + 86400L * 300),
              "-rwxrwxrwx  1  hbr       hbr 123456789 Dec 30 09:07 B\n");
}

TEST_F(FileCommands, DirListsFilesAndItselfButNoFolders) {
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    dir.write("b.dat", "12345");
    dir.write("A.TXT", "");
    std::filesystem::create_directory(path("sub"));
    dir.write("sub/hidden.txt", "x");
    utimbuf t{1709629620, 1709629620};
    ::utime(path("b.dat").c_str(), &t);

    ql::cmd_dir(s, "LIST.TXT", reply);
    std::string list = path("LIST.TXT");
    EXPECT_EQ(reply.line(), "0" + list + " COUNT 3");
    std::string text = dir.read("LIST.TXT");
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 3);
    EXPECT_EQ(text.find('\r'), std::string::npos);
    EXPECT_NE(text.find("hbr        5 Mar 05 09:07 b.dat\n"), std::string::npos);
    EXPECT_NE(text.find(" A.TXT\n"), std::string::npos);
    EXPECT_NE(text.find(" LIST.TXT\n"), std::string::npos);
    EXPECT_EQ(text.find("sub"), std::string::npos);
}

TEST_F(FileCommands, DirInSubfolderAndLongListPath) {
    std::string longname(100, 'd');
    std::filesystem::create_directory(path(longname));
    dir.write(longname + "/x", "1");
    ql::cmd_cwd(s, longname, reply);
    ql::cmd_dir(s, "l", reply);
    EXPECT_EQ(reply.line(), "0ftpdir COUNT 2");
    EXPECT_NE(dir.read(longname + "/l").find(" x\n"), std::string::npos);
}

TEST_F(FileCommands, DirReportsAListFileThatCannotBeOpened) {
    ql::cmd_dir(s, "nofolder\\LIST.TXT", reply);
    EXPECT_EQ(reply.line(), "1OPEN ERROR {List} [" + s.workdir + "nofolder/LIST.TXT] ");
}

TEST_F(FileCommands, CopyReplacesAndAppendCreatesOrExtends) {
    std::string big;
    for (int i = 0; i < 2500; ++i) big += static_cast<char>('a' + i % 26);
    dir.write("SRC", big);
    dir.write("DST", "old content that is longer than nothing");
    ql::cmd_copy(s, "src", "dst", false, false, reply);
    EXPECT_EQ(reply.line(), "0COPY SUCCESSFUL");
    EXPECT_EQ(dir.read("DST"), big);

    ql::cmd_copy(s, "SRC", "NEW", true, false, reply);
    EXPECT_EQ(reply.line(), "0APPEND SUCCESSFUL");
    ql::cmd_copy(s, "SRC", "NEW", true, false, reply);
    EXPECT_EQ(dir.read("NEW"), big + big);
}

TEST_F(FileCommands, CopyKeepsTheDestinationsPermissions) {
    dir.write("SRC", "new");
    dir.write("DST", "old");
    ::chmod(path("DST").c_str(), 0640);
    ASSERT_EQ(ql::copy_file(path("SRC"), path("DST"), false), 0);
    EXPECT_EQ(std::filesystem::status(path("DST")).permissions(), std::filesystem::perms(0640));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                            std::filesystem::directory_iterator()),
              2);  // no temporary file left behind
}

TEST_F(FileCommands, CopyFailures) {
    dir.write("A", "aaa");
    EXPECT_EQ(ql::copy_file(path("missing"), path("B"), false), -1);
    EXPECT_FALSE(std::filesystem::exists(path("B")));
    std::filesystem::create_directory(path("folder"));
    EXPECT_EQ(ql::copy_file(path("folder"), path("B"), false), -1);
    EXPECT_EQ(ql::copy_file(path("A"), path("nofolder/B"), false), -2);
    ql::cmd_copy(s, "A", "nofolder\\B", false, false, reply);
    EXPECT_EQ(reply.line(), "1COPY FAILED");
    ql::cmd_copy(s, "A", "nofolder\\B", true, false, reply);
    EXPECT_EQ(reply.line(), "1APPEND FAILED");
}

TEST_F(FileCommands, SameFileIsRefusedUntouched) {
    dir.write("A", "keep me");
    EXPECT_EQ(ql::copy_file(path("A"), path("A"), false), -2);
    EXPECT_EQ(ql::copy_file(path("A"), path("A"), true), -2);
    std::filesystem::create_hard_link(path("A"), path("LINK"));
    EXPECT_EQ(ql::copy_file(path("A"), path("LINK"), true), -2);
    EXPECT_EQ(dir.read("A"), "keep me");
}

TEST_F(FileCommands, LockedDestinationIsRetriedThenGivesUp) {
    dir.write("A", "new");
    dir.write("B", "old");
    Holder other(path("B"));
    ql::command_timings().copy_tries = 3;
    EXPECT_EQ(ql::copy_file(path("A"), path("B"), false), -3);
    EXPECT_EQ(dir.read("B"), "old");
}

TEST_F(FileCommands, LockedDestinationIsWrittenOnceReleased) {
    dir.write("A", "new");
    dir.write("B", "old");
    Holder other(path("B"));
    ql::command_timings().copy_tries = 1000;  // 10 s at most
    std::thread releaser([&] {
        ::usleep(100000);
        other.release();
    });
    EXPECT_EQ(ql::copy_file(path("A"), path("B"), true), 0);
    releaser.join();
    EXPECT_EQ(dir.read("B"), "oldnew");
}

TEST_F(FileCommands, SourceHeldExclusivelyCannotBeOpened) {
    dir.write("A", "x");
    Holder other(path("A"));
    EXPECT_EQ(ql::copy_file(path("A"), path("B"), false), -1);
}

TEST_F(FileCommands, AppendToAFullDeviceIsAShortWrite) {
    dir.write("A", std::string(8192, 'a'));
    dir.write("B", "old");
    // A device is not a file a terminal may write: refused before writing.
    EXPECT_EQ(ql::copy_file(path("A"), "/dev/full", true), -2);
    // A file that may not grow past 4096 bytes takes only part of the data.
    int rc;
    {
        testing_support::FileSizeLimit full(4096);
        ASSERT_TRUE(full.active());
        rc = ql::copy_file(path("A"), path("B"), true);
    }
    EXPECT_EQ(rc, -4);
    EXPECT_EQ(dir.read("B"), "old");  // cut back to its old length
}

TEST_F(FileCommands, GivenFormsUseBaseAndGivenNames) {
    std::filesystem::create_directories(path("sub"));
    std::filesystem::create_directories(path("out"));
    dir.write("TOP", "top");
    dir.write("sub/TOP", "sub");
    s.subdir = "sub/";
    std::string dest = path("out") + "/COPY";
    for (char& c : dest) {
        if (c == '/') c = '\\';
    }
    ql::cmd_copy(s, "TOP", dest, false, true, reply);
    EXPECT_EQ(reply.line(), "0COPY SUCCESSFUL");
    EXPECT_EQ(dir.read("out/COPY"), "top");
    ql::cmd_copy(s, "TOP", "COPY2", false, false, reply);
    EXPECT_EQ(dir.read("sub/COPY2"), "sub");
}

TEST_F(FileCommands, DeleteJudgesByWhatIsLeft) {
    dir.write("A", "x");
    dir.write("E", "");
    std::filesystem::create_directory(path("folder"));
    ql::cmd_delete(s, "a", false, reply);
    EXPECT_EQ(reply.line(), "0DELETE SUCCESSFUL");
    EXPECT_FALSE(std::filesystem::exists(path("A")));
    ql::cmd_delete(s, "never", false, reply);
    EXPECT_EQ(reply.line(), "0DELETE SUCCESSFUL");
    ql::cmd_delete(s, "folder", false, reply);
    EXPECT_EQ(reply.line(), "1DELETE FAILED");
    ql::cmd_delete(s, path("E"), true, reply);
    EXPECT_EQ(reply.line(), "0DELETE SUCCESSFUL");
    EXPECT_FALSE(std::filesystem::exists(path("E")));
}

}  // namespace
