// The rowsmith program itself, run as a user or a scheduler would.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include <gtest/gtest.h>

#include "rowsmith/convert.h"
#include "scratch.h"

extern char** environ;

namespace {

using rowsmith_test::LockHolder;
using rowsmith_test::run_program;
using rowsmith_test::Scratch;

TEST(Program, ConvertsInItsOwnFolderByDefault) {
    Scratch site;
    std::string copy = site.path("rowsmith");
    std::filesystem::copy_file(rowsmith_test::program_path(), copy);
    ::chmod(copy.c_str(), 0755);
    site.write("DATA.TXT", "shelf 4,100234\r\n");

    auto run = run_program(copy, {});  // started from another folder
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(site.read("DEVSCAN.CSV"),
              rowsmith::header_line() + "100234,,NEXT,,,shelf 4,,,,,,O,N,,,,,,,,\r\n");
    EXPECT_FALSE(site.exists("DATA.TXT"));

    run = run_program(copy, {});  // nothing left to convert
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "rowsmith: OPEN ERROR: File open failed: " +
                           site.path("DATA.TXT") + ": RC = 2\n");
}

TEST(Program, FailuresGiveNonZeroStatusAndKeepTheSource) {
    Scratch site;
    std::string data = site.write("in.txt", "a,b\n");

    auto run = run_program(rowsmith_test::program_path(), {"-S" + data, "-T/dev/full"});
    EXPECT_EQ(run.status, 4);
    EXPECT_EQ(run.err, "rowsmith: WRITE ERROR: File write failed: /dev/full: RC = " +
                           std::to_string(ENOSPC) + "\n");
    EXPECT_EQ(site.read("in.txt"), "a,b\n");

    run = run_program(rowsmith_test::program_path(),
                      {"-S" + site.path("missing.txt"), "-T" + site.path("out.csv")});
    EXPECT_EQ(run.status, 1);
    EXPECT_FALSE(site.exists("out.csv"));

    run = run_program(rowsmith_test::program_path(), {"-Q"});
    EXPECT_EQ(run.status, 64);
    EXPECT_NE(run.err.find("unknown option '-Q'"), std::string::npos);
    run = run_program(rowsmith_test::program_path(), {"--help"});
    EXPECT_EQ(run.status, 0);
}

TEST(Program, WindowModuleIsLoadedOnlyForTheWindow) {
    // Without a display the module, once loaded, refuses instead of aborting;
    // a copy of the program without its module beside it still converts.
#ifndef ROWSMITH_HAS_WINDOW
    GTEST_SKIP() << "built without the window module";
#endif
    std::vector<std::string> env;
    for (char** entry = environ; *entry; ++entry) {
        std::string text = *entry;
        if (text.rfind("DISPLAY=", 0) && text.rfind("WAYLAND_DISPLAY=", 0) &&
            text.rfind("QT_QPA_PLATFORM=", 0))
            env.push_back(text);
    }
    auto run = run_program(rowsmith_test::program_path(), {"-D"}, &env);
    EXPECT_EQ(run.status, 64);
    EXPECT_NE(run.err.find("no display for the window"), std::string::npos) << run.err;

    Scratch site;
    std::string copy = site.path("rowsmith");
    std::filesystem::copy_file(rowsmith_test::program_path(), copy);
    ::chmod(copy.c_str(), 0755);
    run = run_program(copy, {"-d"}, &env);
    EXPECT_EQ(run.status, 64);
    EXPECT_NE(run.err.find("rowsmith_window"), std::string::npos) << run.err;
    site.write("DATA.TXT", "a,b\n");
    EXPECT_EQ(run_program(copy, {}, &env).status, 0);
}

TEST(Program, WaitsForALockedTargetThenConverts) {
    Scratch site;
    std::string data = site.write("DATA.TXT", rowsmith_test::numbered_lines(3));
    std::string csv = site.write("DEVSCAN.CSV", "");
    LockHolder other(csv);
    ASSERT_TRUE(other.holding());

    pid_t pid = rowsmith_test::start_program(rowsmith_test::program_path(),
                                             {"-S" + data, "-T" + csv}, site.path("err"));
    ASSERT_GT(pid, 0);
    ::usleep(400 * 1000);
    // Whatever the program got to in that time, it cannot have written.
    EXPECT_EQ(site.read("DEVSCAN.CSV"), "");
    EXPECT_TRUE(site.exists("DATA.TXT"));
    other.release();

    EXPECT_EQ(rowsmith_test::wait_program(pid), 0) << site.read("err");
    EXPECT_FALSE(site.exists("DATA.TXT"));
    EXPECT_EQ(site.read("DEVSCAN.CSV").size(),
              rowsmith::header_line().size() +
                  3 * std::string("TAG0,,NEXT,,,LOC0,,,,,,O,N,,,,,,,,\r\n").size());
}

// Two runs at once, as two schedulers or a scheduler and a user might
// start them: every line ends up in the inventory exactly once, one run
// converts and the other finds nothing left and says so.
void expect_converted_once(const Scratch& site, int lines, int status_a, int status_b,
                           const std::string& errors) {
    std::string csv = site.read("DEVSCAN.CSV");
    size_t records = static_cast<size_t>(std::count(csv.begin(), csv.end(), '\n'));
    EXPECT_EQ(records, static_cast<size_t>(lines) + 1) << errors;  // with the header
    EXPECT_EQ(csv.rfind(rowsmith::header_line(), 0), 0u);
    EXPECT_EQ(csv.find(rowsmith::header_line(), 1), std::string::npos);
    EXPECT_FALSE(site.exists("DATA.TXT"));
    EXPECT_EQ(std::min(status_a, status_b), 0) << errors;
    EXPECT_EQ(std::max(status_a, status_b), 1) << errors;
    EXPECT_NE(errors.find("File open failed: " + site.path("DATA.TXT") + ": RC = 2"),
              std::string::npos)
        << errors;
}

TEST(Program, TwoRunsStartedTogetherConvertEachLineOnce) {
    Scratch site;
    const int lines = 100000;
    std::string data = site.write("DATA.TXT", rowsmith_test::numbered_lines(lines));
    std::string csv = site.path("DEVSCAN.CSV");
    std::vector<std::string> args{"-S" + data, "-T" + csv};
    pid_t a = rowsmith_test::start_program(rowsmith_test::program_path(), args, site.path("err.a"));
    pid_t b = rowsmith_test::start_program(rowsmith_test::program_path(), args, site.path("err.b"));
    ASSERT_GT(a, 0);
    ASSERT_GT(b, 0);
    int status_a = rowsmith_test::wait_program(a);
    int status_b = rowsmith_test::wait_program(b);
    expect_converted_once(site, lines, status_a, status_b, site.read("err.a") + site.read("err.b"));
}

TEST(Program, TwoRunsWaitingForTheSameLockConvertEachLineOnce) {
    Scratch site;
    std::string data = site.write("DATA.TXT", rowsmith_test::numbered_lines(5));
    std::string csv = site.write("DEVSCAN.CSV", "");
    LockHolder other(csv);
    ASSERT_TRUE(other.holding());
    std::vector<std::string> args{"-S" + data, "-T" + csv};
    pid_t a = rowsmith_test::start_program(rowsmith_test::program_path(), args, site.path("err.a"));
    pid_t b = rowsmith_test::start_program(rowsmith_test::program_path(), args, site.path("err.b"));
    ASSERT_GT(a, 0);
    ASSERT_GT(b, 0);
    ::usleep(400 * 1000);  // both are waiting for the lock by now
    other.release();
    int status_a = rowsmith_test::wait_program(a);
    int status_b = rowsmith_test::wait_program(b);
    expect_converted_once(site, 5, status_a, status_b, site.read("err.a") + site.read("err.b"));
}

TEST(Program, PipesAsDataOrInventoryFileFailAtOnce) {
    Scratch site;
    ASSERT_EQ(::mkfifo(site.path("DATA.TXT").c_str(), 0600), 0);
    std::string csv = site.path("DEVSCAN.CSV");
    auto run =
        run_program(rowsmith_test::program_path(), {"-S" + site.path("DATA.TXT"), "-T" + csv});
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_FALSE(site.exists("DEVSCAN.CSV"));

    std::string data = site.write("IN.TXT", "a,b\n");
    ASSERT_EQ(::mkfifo(csv.c_str(), 0600), 0);
    run = run_program(rowsmith_test::program_path(), {"-S" + data, "-T" + csv});
    EXPECT_EQ(run.status, 2) << run.err;
    EXPECT_EQ(site.read("IN.TXT"), "a,b\n");
}

}  // namespace
