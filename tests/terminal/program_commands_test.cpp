// LOAD, EXEC, STAT and SYSTEM with a real started program.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "foundation/settings.h"
#include "platform/process.h"
#include "temp_dir.h"
#include "terminal/commands.h"

using testing_support::TempDir;

namespace {

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> out;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        out.push_back(text.substr(pos, end - pos));
        pos = end + 1;
    }
    return out;
}

class Programs : public ::testing::Test {
  protected:
    void SetUp() override {
        ql::commands_reset();
        ql::settings_reset_defaults();
        // A poll returns as soon as the program ends, so a long wait costs
        // nothing and keeps short programs from reading as busy on a slow
        // machine; the busy tests make their program wait for a file.
        ql::command_timings().poll_wait_ms = 30000;
        s.workdir = dir.path() + "/";
        std::filesystem::copy_file(QL_TEST_CHILD, dir.file("Child"));
    }
    void TearDown() override {
        dir.write("go", "");  // frees any program still waiting
        ql::commands_reset();
        ql::settings_reset_defaults();
    }
    void short_polls() { ql::command_timings().poll_wait_ms = 100; }

    TempDir dir;
    ql::Session s;
    ql::CommandReply reply;
};

TEST(CommandLine, SplitsAtBlanksWithQuotesGrouping) {
    using V = std::vector<std::string>;
    EXPECT_EQ(platform::split_command_line("szXMFile -p/w/  a\tb "),
              (V{"szXMFile", "-p/w/", "a", "b"}));
    EXPECT_EQ(platform::split_command_line("x \"a b\" c\"d e\"f \"\""),
              (V{"x", "a b", "cd ef", ""}));
    EXPECT_EQ(platform::split_command_line("   "), V{});
}

TEST_F(Programs, ProgramEndingAtOnceIsReportedWithItsExitCode) {
    ql::cmd_load(s, "LOAD", "child", "exit=3", false, reply);
    EXPECT_EQ(reply.line(), "00003DONE");
    EXPECT_FALSE(reply.busy);
    EXPECT_FALSE(ql::started_program_running());
    ql::cmd_stat(reply);
    EXPECT_EQ(reply.line(), "1PROG STAT ERROR");
}

TEST_F(Programs, LoadPassesTheLoaderCommandLine) {
    std::string args = dir.file("args");
    ql::cmd_load(s, "LOAD", "Child", "args=" + args + " two", false, reply);
    EXPECT_EQ(reply.line(), "00000DONE");
    EXPECT_EQ(lines_of(dir.read("args")),
              (std::vector<std::string>{"szXMFile", "-p" + s.workdir, "args=" + args, "two"}));
}

TEST_F(Programs, ExecBuildsHostAndPortOptions) {
    std::string args = dir.file("args");
    ql::settings().iphost = "10.0.0.9";
    ql::settings().ipport = "2001";
    ql::cmd_exec(s, "Child", "args=" + args, false, reply);
    EXPECT_EQ(reply.line(), "00000DONE");
    EXPECT_EQ(lines_of(dir.read("args")),
              (std::vector<std::string>{"-h10.0.0.9", "-s2001", "args=" + args}));

    // Without settings or parameters the program still gets a name.
    ql::settings().iphost.clear();
    ql::settings().ipport.clear();
    ql::cmd_exec(s, dir.file("Child"), "", true, reply);
    EXPECT_EQ(reply.line(), "00000DONE");
}

TEST_F(Programs, LongRunningProgramIsPolledByStat) {
    short_polls();
    std::string go = dir.file("go");
    ql::cmd_load(s, "LOAD", "Child", "wait=" + go + " exit=7", false, reply);
    EXPECT_EQ(reply.line(), "8BUSY");
    EXPECT_TRUE(reply.busy);
    ql::cmd_stat(reply);
    EXPECT_EQ(reply.line(), "8BUSY");
    EXPECT_TRUE(reply.busy);
    dir.write("go", "");
    ql::command_timings().poll_wait_ms = 30000;
    ql::cmd_stat(reply);
    EXPECT_EQ(reply.line(), "00007DONE");
    ql::cmd_stat(reply);
    EXPECT_EQ(reply.line(), "1PROG STAT ERROR");
}

TEST_F(Programs, NewLoadReplacesTheStartedProgram) {
    short_polls();
    ql::cmd_load(s, "LOAD", "Child", "wait=" + dir.file("go") + " exit=1", false, reply);
    ASSERT_TRUE(reply.busy);
    ql::command_timings().poll_wait_ms = 30000;
    ql::cmd_exec(s, "Child", "exit=2", false, reply);
    EXPECT_EQ(reply.line(), "00002DONE");
    ql::cmd_stat(reply);
    EXPECT_EQ(reply.line(), "1PROG STAT ERROR");
}

TEST_F(Programs, EndBySignalIsNeverSuccess) {
    ql::cmd_load(s, "LOAD", "Child", "signal=9", false, reply);
    EXPECT_EQ(reply.line(), "00137DONE");
}

TEST_F(Programs, MissingProgramFailsToLoad) {
    ql::cmd_load(s, "LOAD", "nothing", "", false, reply);
    EXPECT_EQ(reply.line(), "1PROG LOAD FAILED");
    dir.write("text", "not a program");
    ql::cmd_exec(s, "text", "", false, reply);
    EXPECT_EQ(reply.line(), "1PROG LOAD FAILED");
    EXPECT_FALSE(ql::started_program_running());
}

TEST_F(Programs, ClearLeavesARunningProgramAlone) {
    short_polls();
    ql::cmd_load(s, "LOAD", "Child", "wait=" + dir.file("go"), false, reply);
    ASSERT_TRUE(reply.busy);
    ql::started_program_clear();
    ql::cmd_stat(reply);
    EXPECT_EQ(reply.line(), "1PROG STAT ERROR");
}

TEST_F(Programs, SystemRunsTheCommandLine) {
    dir.write("job.sh", "#!/bin/sh\necho \"$0|$1|$2|$3\" > \"$1/out\"\nexit 5\n");
    ::chmod(dir.file("job.sh").c_str(), 0755);
    ql::cmd_system(s, "SYSTEM", "JOB.SH", "p1 p2", reply);
    EXPECT_EQ(reply.line(), "00000DONE");  // the exit status is not reported
    EXPECT_EQ(dir.read("out"), s.workdir + "job.sh|" + s.workdir + "|p1|p2\n");
}

TEST_F(Programs, SystemOfMissingOrEmptyProgramRunsNothing) {
    ql::cmd_system(s, "SYSTEM", "missing", "; touch " + dir.file("ran"), reply);
    EXPECT_EQ(reply.line(), "1SYSTEM FAILED");
    dir.write("empty", "");
    ql::cmd_system(s, "SYSTEM", "empty", "; touch " + dir.file("ran"), reply);
    EXPECT_EQ(reply.line(), "1SYSTEM FAILED");
    EXPECT_FALSE(std::filesystem::exists(dir.file("ran")));
}

TEST_F(Programs, SystemQuotesFileNamesWithBlanks) {
    std::filesystem::create_directory(dir.file("my dir"));
    s.workdir = dir.file("my dir") + "/";
    std::string script = s.workdir + "a b.sh";
    {
        std::FILE* f = std::fopen(script.c_str(), "w");
        std::fputs("#!/bin/sh\necho \"$1\" > \"$1/out\"\n", f);
        std::fclose(f);
    }
    ::chmod(script.c_str(), 0755);
    ql::cmd_system(s, "SYSTEM", "A B.SH", "", reply);
    EXPECT_EQ(reply.line(), "00000DONE");
    EXPECT_EQ(dir.read("my dir/out"), s.workdir + "\n");
}

}  // namespace
