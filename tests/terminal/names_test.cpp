// How names sent by a terminal become paths on this machine.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/files.h"
#include "temp_dir.h"
#include "terminal/commands.h"

using testing_support::TempDir;

namespace {

// A relative path written with '/' in this machine's separators.
std::string native(std::string path) {
    for (char& c : path) {
        if (c == '/') c = platform::dir_separator();
    }
    return path;
}

bool on_windows() {
    return platform::dir_separator() == '\\';
}

class Names : public ::testing::Test {
  protected:
    void SetUp() override {
        std::filesystem::create_directories(dir.file("Data/Old"));
        dir.write("Data/Report.TXT", "r");
        base = dir.path() + "/";
    }
    TempDir dir;
    std::string base;
};

TEST_F(Names, BackslashSeparatesAndCaseIsFoundPerComponent) {
    EXPECT_EQ(ql::terminal_path(base, "DATA\\report.txt"), base + native("Data/Report.TXT"));
    EXPECT_EQ(ql::terminal_path(base, "data\\OLD\\"), base + native("Data/Old/"));
    EXPECT_EQ(ql::terminal_path(base, "Data/Report.TXT"), base + native("Data/Report.TXT"));
}

TEST_F(Names, MissingComponentsAreKeptAsSent) {
    // A new file in an existing folder: folder found, file name as sent.
    EXPECT_EQ(ql::terminal_path(base, "data\\New.Txt"), base + native("Data/New.Txt"));
    // Once a folder is missing, everything after it stays as sent.
    EXPECT_EQ(ql::terminal_path(base, "Nope\\data\\X"), base + native("Nope/data/X"));
}

TEST_F(Names, ExactNameWinsOverOtherCase) {
    if (on_windows()) GTEST_SKIP() << "two names that differ only in letter case cannot both exist";
    dir.write("Data/report.txt", "lower");
    EXPECT_EQ(ql::terminal_path(base, "data\\report.txt"), base + native("Data/report.txt"));
    EXPECT_EQ(ql::terminal_path(base, "data\\Report.TXT"), base + native("Data/Report.TXT"));
    // Neither spelled exactly: the first in name order.
    EXPECT_EQ(ql::terminal_path(base, "data\\REPORT.txt"), base + native("Data/Report.TXT"));
}

TEST_F(Names, EmptyNameIsTheBaseItself) {
    EXPECT_EQ(ql::terminal_path(base, ""), base);
}

TEST_F(Names, FullBaseAndGivenForms) {
    ql::Session s{base, "data/"};
    EXPECT_EQ(ql::full_name(s, "REPORT.TXT"), base + native("Data/Report.TXT"));
    EXPECT_EQ(ql::base_name(s, "REPORT.TXT"), base + "REPORT.TXT");
    // A given name is used without the working directory; on Windows its
    // drive is a drive of this machine, elsewhere a drive letter means the
    // root of this machine.
    std::string given = dir.path();
    for (char& c : given) {
        if (c == '/') c = '\\';
    }
    if (on_windows()) {
        EXPECT_EQ(ql::given_name(given + "\\data\\report.txt"), given + "\\Data\\Report.TXT");
        EXPECT_EQ(ql::given_name(given + "/data"), given + "\\Data");
    } else {
        EXPECT_EQ(ql::given_name("C:" + given + "\\data\\report.txt"), base + "Data/Report.TXT");
        EXPECT_EQ(ql::given_name(given + "\\data"), base + "Data");
    }
}

}  // namespace
