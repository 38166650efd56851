// The command line, the file paths and how results reach the caller.
#include <gtest/gtest.h>

#include "platform/file_handle.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "rowsmith/startup.h"

namespace {

rowsmith::Options parse(std::vector<const char*> args) {
    args.insert(args.begin(), "rowsmith");
    return rowsmith::parse_options(static_cast<int>(args.size()), args.data());
}

TEST(Options, NoneMeansDefaultsAndNoWindow) {
    rowsmith::Options o = parse({});
    EXPECT_TRUE(o.error.empty());
    EXPECT_FALSE(o.dialog);
    EXPECT_FALSE(o.help);
    rowsmith::Paths p = rowsmith::resolve_paths(o, "/opt/site/");
    EXPECT_EQ(p.source, "/opt/site/DATA.TXT");
    EXPECT_EQ(p.target, "/opt/site/DEVSCAN.CSV");
    EXPECT_EQ(p.workdir, "/opt/site/");
}

TEST(Options, FileNamesAttachedOrSeparateAnyCase) {
    rowsmith::Options o = parse({"-Sin/a.txt", "-t", "/abs/out.csv", "-d"});
    EXPECT_TRUE(o.error.empty()) << o.error;
    EXPECT_TRUE(o.dialog);
    rowsmith::Paths p = rowsmith::resolve_paths(o, "/opt/site/");
    EXPECT_EQ(p.source, "/opt/site/in/a.txt");
    EXPECT_EQ(p.target, "/abs/out.csv");

    o = parse({"-s", "x.txt", "-TY.CSV", "-D"});
    EXPECT_EQ(o.source, "x.txt");
    EXPECT_EQ(o.target, "Y.CSV");
    EXPECT_TRUE(o.dialog);
}

TEST(Options, HelpAndMistakes) {
    EXPECT_TRUE(parse({"-h"}).help);
    EXPECT_TRUE(parse({"--help"}).help);
    EXPECT_FALSE(parse({"-S"}).error.empty());
    EXPECT_FALSE(parse({"-x"}).error.empty());
    EXPECT_FALSE(parse({"-Dx"}).error.empty());
    EXPECT_FALSE(parse({"DATA.TXT"}).error.empty());
    EXPECT_FALSE(parse({"-"}).error.empty());
}

TEST(Startup, ExitStatusAndMessageLine) {
    EXPECT_EQ(rowsmith::exit_status(0), 0);
    EXPECT_EQ(rowsmith::exit_status(rowsmith::kTargetLocked), 3);
    EXPECT_EQ(rowsmith::exit_status(rowsmith::kSourceRemoveFailed), 7);
    rowsmith::Message m = rowsmith::open_failed_message("/w/DATA.TXT", 2);
    EXPECT_EQ(rowsmith::message_line(m),
              "OPEN ERROR: File open failed: /w/DATA.TXT: RC = 2");
}

TEST(Startup, ProgramDirectoryIsThisProgramsFolder) {
    std::string dir = rowsmith::program_directory();
    ASSERT_FALSE(dir.empty());
    EXPECT_TRUE(dir.back() == '/' || dir.back() == platform::dir_separator()) << dir;
    EXPECT_TRUE(platform::is_absolute_path(dir)) << dir;
}

}  // namespace
