// Started programs: exit codes, waits that end on time, arguments that
// arrive exactly as given (blanks, quotes, backslashes), and the command
// interpreter.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/files.h"
#include "platform/process.h"
#include "temp_dir.h"

using testing_support::read_whole_file;
using testing_support::TempDir;

namespace {

// The helper program sits beside this test program.
std::string child_path() {
    std::string self = platform::executable_path();
    std::string folder = self.substr(0, self.find_last_of("/\\") + 1);
    std::string suffix = self.size() > 4 && self.substr(self.size() - 4) == ".exe" ? ".exe" : "";
    return folder + "platform_test_child" + suffix;
}

int run_to_end(const std::vector<std::string>& args) {
    platform::Process p;
    int rc = platform::process_start(child_path(), args, p);
    if (rc != 0) return -1000 - rc;
    int code = -1;
    rc = platform::process_wait(p, 60000, code);
    return rc == platform::kProcessEnded ? code : -2000 + rc;
}

TEST(Process, ExitCodesComeBack) {
    ASSERT_TRUE(platform::is_regular_file(child_path())) << child_path();
    EXPECT_EQ(run_to_end({"child", "exit", "0"}), 0);
    // Started by a name written with forward slashes.
    std::string slashed = child_path();
    for (char& c : slashed) {
        if (c == '\\') c = '/';
    }
    platform::Process p;
    ASSERT_EQ(platform::process_start(slashed, {"child", "exit", "7"}, p), 0);
    int code = -1;
    EXPECT_EQ(platform::process_wait(p, 60000, code), platform::kProcessEnded);
    EXPECT_EQ(code, 7);
    EXPECT_EQ(run_to_end({"child", "exit", "3"}), 3);
    EXPECT_EQ(run_to_end({"child", "exit", "200"}), 200);
}

TEST(Process, ARunningProgramIsReportedUntilItEnds) {
    platform::Process p;
    ASSERT_EQ(platform::process_start(child_path(), {"child", "sleep", "1500"}, p), 0);
    EXPECT_GT(p.pid, 0);
    int code = -1;
    uint64_t start = platform::monotonic_ms64();
    EXPECT_EQ(platform::process_wait(p, 50, code), platform::kProcessRunning);
    EXPECT_GE(platform::monotonic_ms64() - start, 50u);
    EXPECT_GT(p.pid, 0);
    EXPECT_EQ(platform::process_wait(p, 60000, code), platform::kProcessEnded);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(p.pid, -1);
    // The handle is gone: a further wait fails instead of reporting again.
    EXPECT_EQ(platform::process_wait(p, 10, code), platform::kProcessWaitFailed);
}

TEST(Process, AReleasedProgramKeepsRunningAndAMissingOneFails) {
    platform::Process p;
    ASSERT_EQ(platform::process_start(child_path(), {"child", "sleep", "200"}, p), 0);
    platform::process_release(p);
    EXPECT_EQ(p.pid, -1);
    TempDir dir;
    EXPECT_NE(platform::process_start(dir.file("no-such-program"), {}, p), 0);
    EXPECT_EQ(p.pid, -1);
    int code = 0;
    EXPECT_EQ(platform::process_wait(p, 10, code), platform::kProcessWaitFailed);
}

TEST(Process, ArgumentsArriveExactlyAsGiven) {
    TempDir dir;
    std::string out = dir.file("args out.txt");
    std::vector<std::string> words{"two words",   "say \"hi\"", "back\\slash\\", "",
                                   "tail\\\\\"q", "\t tab",     "end\\"};
    std::vector<std::string> args{"child name", "args", out};
    args.insert(args.end(), words.begin(), words.end());
    EXPECT_EQ(run_to_end(args), static_cast<int>(words.size()));
    std::string expected;
    for (const auto& w : words) expected += w + "\n";
    EXPECT_EQ(read_whole_file(out), expected);
}

TEST(Process, SplitCommandLineGroupsQuotedBlanks) {
    using V = std::vector<std::string>;
    EXPECT_EQ(platform::split_command_line("a  \"b c\"\td"), (V{"a", "b c", "d"}));
    EXPECT_EQ(platform::split_command_line("x \"\" y"), (V{"x", "", "y"}));
    EXPECT_EQ(platform::split_command_line("-p\"C:\\work dir\\\" z"), (V{"-pC:\\work dir\\", "z"}));
    EXPECT_TRUE(platform::split_command_line("   ").empty());
}

TEST(Process, TheCommandInterpreterRunsALine) {
    TempDir dir;
    std::string out = dir.file("from shell.txt");
    // Appended piece by piece: GCC 12 warns wrongly about one long sum.
    std::string line = "\"";
    line.append(child_path()).append("\" args \"").append(out).append("\" hello");
    EXPECT_NE(platform::run_command_line(line), -1);
    EXPECT_EQ(read_whole_file(out), "hello\n");
}

TEST(Process, QuotedWordsReachTheProgramAsOneWordWithNothingRun) {
    TempDir dir;
    std::string out = dir.file("out put.txt");
    std::string marker = dir.file("ran");
    // Everything here means something to one interpreter or the other.
    std::vector<std::string> words{"a b&c|d>e",      "100% sure", "`x` ; y",
                                   "^x (y) 'q' !z!", "end\\",     "plain.txt"};
    words.push_back("$(touch ");
    words.back().append(marker).append(")");
    // Appended piece by piece: GCC 12 warns wrongly about one long sum.
    std::string line = platform::command_line_word(child_path());
    line.append(" args ").append(platform::command_line_word(out));
    for (const auto& w : words) line.append(" ").append(platform::command_line_word(w));
    EXPECT_NE(platform::run_command_line(line), -1);
    std::string expected;
    for (const auto& w : words) expected += w + "\n";
    EXPECT_EQ(read_whole_file(out), expected);
    EXPECT_FALSE(platform::path_exists(marker));
    EXPECT_EQ(platform::command_line_word("plain.txt"), "plain.txt");
}

}  // namespace
