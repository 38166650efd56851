// How names sent by a terminal become paths on this machine.
#include <gtest/gtest.h>

#include <filesystem>

#include "temp_dir.h"
#include "terminal/commands.h"

using testing_support::TempDir;

namespace {

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
    EXPECT_EQ(ql::terminal_path(base, "DATA\\report.txt"), base + "Data/Report.TXT");
    EXPECT_EQ(ql::terminal_path(base, "data\\OLD\\"), base + "Data/Old/");
    EXPECT_EQ(ql::terminal_path(base, "Data/Report.TXT"), base + "Data/Report.TXT");
}

TEST_F(Names, MissingComponentsAreKeptAsSent) {
    // A new file in an existing folder: folder found, file name as sent.
    EXPECT_EQ(ql::terminal_path(base, "data\\New.Txt"), base + "Data/New.Txt");
    // Once a folder is missing, everything after it stays as sent.
    EXPECT_EQ(ql::terminal_path(base, "Nope\\data\\X"), base + "Nope/data/X");
}

TEST_F(Names, ExactNameWinsOverOtherCase) {
    dir.write("Data/report.txt", "lower");
    EXPECT_EQ(ql::terminal_path(base, "data\\report.txt"), base + "Data/report.txt");
    EXPECT_EQ(ql::terminal_path(base, "data\\Report.TXT"), base + "Data/Report.TXT");
    // Neither spelled exactly: the first in name order.
    EXPECT_EQ(ql::terminal_path(base, "data\\REPORT.txt"), base + "Data/Report.TXT");
}

TEST_F(Names, EmptyNameIsTheBaseItself) {
    EXPECT_EQ(ql::terminal_path(base, ""), base);
}

TEST_F(Names, FullBaseAndGivenForms) {
    ql::Session s{base, "data/"};
    EXPECT_EQ(ql::full_name(s, "REPORT.TXT"), base + "Data/Report.TXT");
    EXPECT_EQ(ql::base_name(s, "REPORT.TXT"), base + "REPORT.TXT");
    // A given name is used without the working directory; a drive letter
    // means the root of this machine.
    std::string given = dir.path();
    for (char& c : given) {
        if (c == '/') c = '\\';
    }
    EXPECT_EQ(ql::given_name("C:" + given + "\\data\\report.txt"), base + "Data/Report.TXT");
    EXPECT_EQ(ql::given_name(given + "\\data"), base + "Data");
}

}  // namespace
