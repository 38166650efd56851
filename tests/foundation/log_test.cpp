#include <algorithm>
#include <filesystem>
#include <regex>
#include <thread>

#include <gtest/gtest.h>

#include "file_size_limit.h"
#include "foundation/log.h"
#include "recording_view.h"
#include "temp_dir.h"

using testing_support::RecordingView;
using testing_support::TempDir;

namespace {

class Log : public ::testing::Test {
  protected:
    void SetUp() override { ql::log_reset(); }
    void TearDown() override { ql::log_reset(); }
    RecordingView view;
    TempDir dir;
};

TEST_F(Log, ErrorLineWithCodeZeroHasTheScreenShape) {
    ql::log_event("Comm CreateFile Error: 2", 99, 0);
    ASSERT_EQ(view.lines().size(), 1u);
    std::regex shape(R"(ERR:  \d\d/\d\d/\d\d \d\d:\d\d:\d\d {8}0 Comm CreateFile Error: 2)");
    EXPECT_TRUE(std::regex_match(view.lines()[0], shape)) << view.lines()[0];
}

TEST_F(Log, ModeZeroTouchesNoFile) {
    ql::set_log_path(dir.file("quaylink.log"));
    ql::log_event("hello", 0, 5);
    EXPECT_EQ(view.lines().size(), 1u);
    EXPECT_EQ(dir.read("quaylink.log"), "");
}

TEST_F(Log, FileLinesHaveTheFileShape) {
    ql::set_log_path(dir.file("quaylink.log"));
    ql::log_state().mode = 1;
    ql::log_event("COMMPORT = 1", 0, 0);
    ql::log_event("bad", 99, -12);
    std::regex shape(R"(INFO:\[\d\d/\d\d/\d\d \d\d:\d\d:\d\d   \]\[    0\]\[COMMPORT = 1\]\n)"
                     R"(ERR: \[\d\d/\d\d/\d\d \d\d:\d\d:\d\d   \]\[  -12\]\[bad\]\n)");
    EXPECT_TRUE(std::regex_match(dir.read("quaylink.log"), shape)) << dir.read("quaylink.log");
    EXPECT_EQ(ql::log_state().last_code, -12);
}

TEST_F(Log, LongTextIsCutToFitTheLine) {
    ql::set_log_path(dir.file("quaylink.log"));
    ql::log_state().mode = 1;
    ql::log_event(std::string(1000, 'x'), 0, 0);
    std::string line = dir.read("quaylink.log");
    EXPECT_LE(line.size(), 255u);
    EXPECT_EQ(line.substr(line.size() - 3), "x]\n");
    EXPECT_LE(view.lines()[0].size(), 255u);
}

TEST_F(Log, UnopenableFileSwitchesFileLoggingOff) {
    ql::set_log_path(dir.file("no/such/dir/quaylink.log"));
    ql::log_state().mode = 1;
    ::testing::internal::CaptureStderr();
    ql::log_event("first", 0, 0);
    ql::log_event("second", 0, 0);
    std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("][Couldn't open log file]"), std::string::npos);
    EXPECT_EQ(err.find("Couldn't", err.find("Couldn't") + 1), std::string::npos);  // once
    EXPECT_EQ(ql::log_state().mode, 0);
    EXPECT_EQ(view.lines().size(), 2u);
}

TEST_F(Log, WriteErrorAfterTheOpenKeepsFileLoggingOn) {
    ql::set_log_path(dir.file("quaylink.log"));  // opens, but no write fits
    ql::log_state().mode = 1;
    std::string err;
    {
        testing_support::FileSizeLimit full(0);
        ASSERT_TRUE(full.active());
        ::testing::internal::CaptureStderr();
        ql::log_event("disk full", 0, 0);
        err = ::testing::internal::GetCapturedStderr();
    }
    EXPECT_EQ(err, "");
    EXPECT_EQ(ql::log_state().mode, 1);
}

TEST_F(Log, ALogPathTooLongIsRefusedNotCut) {
    // A folder name that makes the path 258 characters long.
    std::string folder = dir.path() + "/" + std::string(245 - dir.path().size() - 1, 'd');
    ASSERT_EQ(folder.size(), 245u);
    std::filesystem::create_directory(folder);
    ql::log_state().mode = 1;
    EXPECT_FALSE(ql::set_log_path(folder + "/quaylink.log"));
    EXPECT_EQ(ql::log_path(), "");
    EXPECT_EQ(ql::log_state().mode, 0);
    ASSERT_EQ(view.lines().size(), 1u);
    EXPECT_NE(view.lines()[0].find("Log file path too long (258 characters"), std::string::npos);
    ql::log_event("after", 0, 0);
    EXPECT_TRUE(std::filesystem::is_empty(folder));  // no "quaylink.l" or the like

    std::string fits = folder.substr(0, 242) + "/quaylink.log";  // 255 characters
    EXPECT_TRUE(ql::set_log_path(fits));
    EXPECT_EQ(ql::log_path(), fits);
}

TEST_F(Log, StatusListKeeps2000LinesDroppingTheOldest) {
    for (int i = 0; i < 2001; ++i) ql::status_list_add("line " + std::to_string(i));
    auto lines = view.lines();
    EXPECT_EQ(lines.size(), 2000u);
    EXPECT_EQ(lines.front(), "line 1");
    EXPECT_EQ(lines.back(), "line 2000");
    EXPECT_EQ(ql::log_state().line_count, 2000);
    ql::status_list_clear();
    EXPECT_EQ(ql::log_state().line_count, 0);
    EXPECT_TRUE(view.lines().empty());
}

TEST_F(Log, ConcurrentEventsAreNeitherLostNorInterleaved) {
    ql::set_log_path(dir.file("quaylink.log"));
    ql::log_state().mode = 1;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < 200; ++i) ql::log_event("thread " + std::to_string(t), 0, i);
        });
    for (auto& th : threads) th.join();
    EXPECT_EQ(ql::log_state().line_count, 800);
    std::string file = dir.read("quaylink.log");
    EXPECT_EQ(std::count(file.begin(), file.end(), '\n'), 800);
    std::regex line(R"((INFO:\[[^\]]{20}\]\[ *\d+\]\[thread \d\]\n)+)");
    EXPECT_TRUE(std::regex_match(file, line));
}

}  // namespace

namespace {

TEST_F(Log, ControlCharactersAreEscapedInTheFileAndTheList) {
    ql::set_log_path(dir.file("quaylink.log"));
    ql::log_state().mode = 1;
    ql::log_event("x\nERR: [01/01/26 00:00:00   ][    0][FORGED LINE]", 99, 0);
    ql::log_event(std::string("esc \x1b[2J del \x7f nul-free C:\\DATA\\A.TXT"), 0, 0);
    ql::status_list_add("direct\r\nline");
    std::string file = dir.read("quaylink.log");
    EXPECT_EQ(std::count(file.begin(), file.end(), '\n'), 2) << file;
    EXPECT_NE(file.find("[x\\x0AERR: [01/01/26 00:00:00   ][    0][FORGED LINE]]\n"),
              std::string::npos)
        << file;
    EXPECT_NE(file.find("[esc \\x1B[2J del \\x7F nul-free C:\\DATA\\A.TXT]\n"), std::string::npos)
        << file;
    ASSERT_EQ(view.lines().size(), 3u);
    EXPECT_NE(view.lines()[0].find(" x\\x0AERR: [01/01/26"), std::string::npos);
    EXPECT_EQ(view.lines()[2], "direct\\x0D\\x0Aline");
}

TEST_F(Log, EscapingIsLeftAloneTheSecondTime) {
    std::string once = ql::log_escape(std::string("a\tb\\c\x01\x1f\x7f\x80\xff", 10));
    EXPECT_EQ(once, std::string("a\\x09b\\c\\x01\\x1F\\x7F\x80\xff"));
    EXPECT_EQ(ql::log_escape(once), once);
}

}  // namespace
