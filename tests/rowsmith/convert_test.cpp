// The conversion of well-formed and awkward data files.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>

#include <gtest/gtest.h>

#include "rowsmith/convert.h"
#include "scratch.h"

namespace {

using rowsmith::ConvertOutcome;
using rowsmith::ConvertSettings;
using rowsmith::Message;
using rowsmith_test::Scratch;

std::string record(const std::string& tag, const std::string& location) {
    return tag + ",,NEXT,,," + location + ",,,,,,O,N,,,,,,,,\r\n";
}

class Convert : public ::testing::Test {
  protected:
    ConvertOutcome run() {
        ConvertSettings settings;
        settings.show = [this](const Message& m) { messages.push_back(m); };
        return rowsmith::convert(dir.path("DATA.TXT"), dir.path("DEVSCAN.CSV"), settings);
    }
    // Converts one data file into a new target; returns the records only.
    std::string records_of(const std::string& data) {
        dir.write("DATA.TXT", data);
        std::remove(dir.path("DEVSCAN.CSV").c_str());
        EXPECT_EQ(run().result, 0);
        std::string csv = dir.read("DEVSCAN.CSV");
        const std::string& header = rowsmith::header_line();
        EXPECT_EQ(csv.compare(0, header.size(), header), 0);
        return csv.size() >= header.size() ? csv.substr(header.size()) : csv;
    }

    Scratch dir;
    std::vector<Message> messages;
};

TEST(ConvertHeader, HasTheTwentyOneColumnsInOrder) {
    const std::string& header = rowsmith::header_line();
    EXPECT_EQ(header.substr(0, 31), "TAG_NUMBER,SERIAL_ID,ASSET_ID,D");
    EXPECT_EQ(header.substr(header.size() - 29), "HAND_HELD_OPERATOR,COMMENTS\r\n");
    EXPECT_EQ(std::count(header.begin(), header.end(), ','), 20);
    std::string one;
    rowsmith::append_record("L,T", 3, one);
    EXPECT_EQ(std::count(one.begin(), one.end(), ','), 20);
}

TEST_F(Convert, NewTargetGetsHeaderThenOneRecordPerLineAndSourceGoes) {
    dir.write("DATA.TXT", "A1,B1\nX,Y,Z\nsolo\n\n");
    ConvertOutcome outcome = run();
    EXPECT_EQ(outcome.result, 0);
    EXPECT_EQ(outcome.lines, 4);
    EXPECT_EQ(dir.read("DEVSCAN.CSV"), rowsmith::header_line() + record("B1", "A1") +
                                           record("Y", "X") + record("", "solo") + record("", ""));
    EXPECT_FALSE(dir.exists("DATA.TXT"));
    EXPECT_TRUE(messages.empty());
}

TEST_F(Convert, EmptyTargetGetsHeaderAndFilledTargetIsAppendedTo) {
    dir.write("DEVSCAN.CSV", "");
    dir.write("DATA.TXT", "a,1\n");
    ASSERT_EQ(run().result, 0);
    dir.write("DATA.TXT", "b,2\nc,3\n");
    ConvertOutcome second = run();
    EXPECT_EQ(second.result, 0);
    EXPECT_EQ(second.lines, 2);
    EXPECT_EQ(dir.read("DEVSCAN.CSV"),
              rowsmith::header_line() + record("1", "a") + record("2", "b") + record("3", "c"));

    dir.write("DEVSCAN.CSV", "kept as it is\r\n");
    dir.write("DATA.TXT", "d,4\n");
    ASSERT_EQ(run().result, 0);
    EXPECT_EQ(dir.read("DEVSCAN.CSV"), "kept as it is\r\n" + record("4", "d"));
}

TEST_F(Convert, CarriageReturnsAreSkippedWherever) {
    EXPECT_EQ(records_of("a,b\r\nc,d\r\n"), records_of("a,b\nc,d\n"));
    EXPECT_EQ(records_of("\rA\rB,C\r\r\n"), record("C", "AB"));
}

TEST_F(Convert, FieldsAreCutTo63Characters) {
    std::string seventy(70, 'x'), cut(63, 'x');
    EXPECT_EQ(records_of(seventy + "," + seventy + "\n"), record(cut, cut));
    EXPECT_EQ(records_of(std::string(63, 'y') + "," + std::string(64, 'z') + "\n"),
              record(std::string(63, 'z'), std::string(63, 'y')));
}

TEST_F(Convert, LinesAreCutAt512Characters) {
    // A second field that begins beyond the limit is lost; one that begins
    // on the last kept character keeps that character.
    std::string long_line = std::string(550, 'a') + ",TAG" + std::string(46, 'b');
    ASSERT_EQ(long_line.size(), 600u);
    EXPECT_EQ(records_of(long_line + "\nnext,line\n"),
              record("", std::string(63, 'a')) + record("line", "next"));
    EXPECT_EQ(records_of(std::string(510, 'a') + ",Z\n"), record("Z", std::string(63, 'a')));
    EXPECT_EQ(records_of(std::string(511, 'a') + ",Z\n"), record("", std::string(63, 'a')));
}

TEST_F(Convert, NulEndsTheLineText) {
    EXPECT_EQ(records_of(std::string("ab\0c,d\n", 7)), record("", "ab"));
    EXPECT_EQ(records_of(std::string("ab,c\0d,e\n", 9)), record("c", "ab"));
}

TEST_F(Convert, UnterminatedOnlyLineIsNotConvertedAndSourceStays) {
    dir.write("DATA.TXT", "loc,tag");
    ConvertOutcome outcome = run();
    EXPECT_EQ(outcome.result, 0);
    EXPECT_EQ(outcome.lines, 0);
    EXPECT_EQ(dir.read("DATA.TXT"), "loc,tag");
    EXPECT_EQ(dir.read("DEVSCAN.CSV"), "");  // opened, so created, but nothing written
}

TEST_F(Convert, TailAfterLastLineFeedStaysForTheNextRun) {
    dir.write("DATA.TXT", "a,1\r\nb,2\r\npart,3");
    ConvertOutcome outcome = run();
    EXPECT_EQ(outcome.result, 0);
    EXPECT_EQ(outcome.lines, 2);
    EXPECT_EQ(dir.read("DATA.TXT"), "part,3");
    EXPECT_EQ(dir.read("DEVSCAN.CSV"),
              rowsmith::header_line() + record("1", "a") + record("2", "b"));

    dir.write("DATA.TXT", dir.read("DATA.TXT") + "\r\n");
    ASSERT_EQ(run().result, 0);
    EXPECT_FALSE(dir.exists("DATA.TXT"));
    EXPECT_EQ(dir.read("DEVSCAN.CSV"),
              rowsmith::header_line() + record("1", "a") + record("2", "b") + record("3", "part"));
}

TEST_F(Convert, ManyLinesCrossTheBuffersIntact) {
    std::string data, expected;
    for (int i = 0; i < 20000; ++i) {
        const std::string loc = 'L' + std::to_string(i), tag = 'T' + std::to_string(i * 7);
        data.append(loc).append(",").append(tag).append(i % 3 ? "\r\n" : "\n");
        expected += record(tag, loc);
    }
    EXPECT_EQ(records_of(data), expected);
}

TEST_F(Convert, MissingSourceIsReportedAndNoTargetIsCreated) {
    ConvertOutcome outcome = run();
    EXPECT_EQ(outcome.result, rowsmith::kSourceOpenFailed);
    EXPECT_EQ(outcome.system_error, ENOENT);
    EXPECT_FALSE(dir.exists("DEVSCAN.CSV"));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].caption, "OPEN ERROR");
    EXPECT_EQ(messages[0].text,
              "File open failed\r\n" + dir.path("DATA.TXT") + "\r\nRC = " + std::to_string(ENOENT));
}

TEST_F(Convert, FolderAsSourceOrTargetIsAnOpenFailure) {
    dir.write("DATA.TXT", "a,b\n");
    ConvertSettings quiet;
    EXPECT_EQ(rowsmith::convert(dir.dir(), dir.path("DEVSCAN.CSV"), quiet).result,
              rowsmith::kSourceOpenFailed);
    EXPECT_EQ(rowsmith::convert(dir.path("DATA.TXT"), dir.dir(), quiet).result,
              rowsmith::kTargetOpenFailed);
    EXPECT_EQ(dir.read("DATA.TXT"), "a,b\n");
}

TEST_F(Convert, LinkAtTheInventoryFileIsRefusedNotAppendedThrough) {
    dir.write("DATA.TXT", "a,b\n");
    dir.write("elsewhere.csv", "kept");
    std::error_code ec;
    std::filesystem::create_symlink(dir.path("elsewhere.csv"), dir.path("DEVSCAN.CSV"), ec);
    if (ec) GTEST_SKIP() << "no symbolic links here: " << ec.message();
    ConvertSettings quiet;
    EXPECT_EQ(rowsmith::convert(dir.path("DATA.TXT"), dir.path("DEVSCAN.CSV"), quiet).result,
              rowsmith::kTargetOpenFailed);
    EXPECT_EQ(dir.read("elsewhere.csv"), "kept");
    EXPECT_EQ(dir.read("DATA.TXT"), "a,b\n");
}

TEST_F(Convert, FileLengthTreatsMissingAsEmpty) {
    EXPECT_EQ(rowsmith::file_length(dir.path("none")), 0);
    dir.write("five", "12345");
    EXPECT_EQ(rowsmith::file_length(dir.path("five")), 5);
    EXPECT_EQ(rowsmith::file_length(dir.dir()), 0);
}

}  // namespace
