#include <gtest/gtest.h>

#include "profile/profile.h"
#include "temp_dir.h"

using profile::profile_get;
using testing_support::TempDir;

namespace {

class ProfileGet : public ::testing::Test {
  protected:
    std::string get(const char* section, const char* key, const char* def = "DEF",
                    size_t size = 64) {
        value = "untouched";
        code = profile_get(path, section, key, value, def, size);
        return value;
    }
    void file(const std::string& content) { path = dir.write("a.ini", content); }

    TempDir dir;
    std::string path = dir.file("missing.ini");
    std::string value;
    int code = -1;
};

TEST_F(ProfileGet, KeyInTwoSectionsIsReadFromTheNamedOne) {
    file("[one]\r\nhost=first\r\n[two]\r\nhost=second\r\n");
    EXPECT_EQ(get("two", "host"), "second");
    EXPECT_EQ(code, 0);
    EXPECT_EQ(get("one", "host"), "first");
}

TEST_F(ProfileGet, SectionAndKeyMatchAsPrefixIgnoringCase) {
    file("[SETUPX]\nHOSTNAME=abc\nhost=def\n");
    EXPECT_EQ(get("setup", "host"), "abc");
}

TEST_F(ProfileGet, InlineCommentAndTrailingBlanksAreRemovedLeadingBlankKept) {
    file("[s]\r\nk= value ;comment\r\n");
    EXPECT_EQ(get("s", "k"), " value");
    EXPECT_EQ(get("s", "k", profile::kNoStrip), " value ");
}

TEST_F(ProfileGet, EmptyValueGivesCode2AndDefault) {
    file("[s]\r\nk=\r\n");
    EXPECT_EQ(get("s", "k"), "DEF");
    EXPECT_EQ(code, 2);
    EXPECT_EQ(get("s", "k", profile::kNoStrip), "");
    EXPECT_EQ(code, 2);
}

TEST_F(ProfileGet, ValueAsLongAsBufferGivesCode3) {
    file("[s]\r\nk=" + std::string(64, 'x') + "\r\n");
    EXPECT_EQ(get("s", "k"), "DEF");
    EXPECT_EQ(code, 3);
    EXPECT_EQ(get("s", "k", "DEF", 65), std::string(64, 'x'));
    EXPECT_EQ(code, 0);
}

TEST_F(ProfileGet, DefaultTooLongLeavesBufferUnchanged) {
    EXPECT_EQ(get("s", "k", "12345", 5), "untouched");
    EXPECT_EQ(code, 4);
}

TEST_F(ProfileGet, ValueEndsAtANulByte) {
    using namespace std::string_literals;
    file("[s]\r\nk=ABCD\0junk\x9c\r\nempty=\0x\r\n"s);
    EXPECT_EQ(get("s", "k"), "ABCD");
    EXPECT_EQ(code, 0);
    EXPECT_EQ(get("s", "k", profile::kNoStrip), "ABCD");
    EXPECT_EQ(get("s", "empty"), "DEF");
    EXPECT_EQ(code, 2);
}

TEST_F(ProfileGet, MissingFileGivesDefaultCode1) {
    EXPECT_EQ(get("s", "k"), "DEF");
    EXPECT_EQ(code, 1);
}

TEST_F(ProfileGet, CommentedKeyGives100UnlessGetRemOn) {
    file("[s]\r\n;k=hidden\r\n");
    EXPECT_EQ(get("s", "k"), "DEF");
    EXPECT_EQ(code, 100);
    EXPECT_EQ(get("s", "k", profile::kGetRemOn), "hidden");
    EXPECT_EQ(code, 0);
}

TEST_F(ProfileGet, KeyLineWithoutEqualsDoesNotEndTheSearch) {
    file("[s]\nkey only\nkey=yes\n[t]\nkey=no\n");
    EXPECT_EQ(get("s", "key"), "yes");
}

TEST_F(ProfileGet, NextSectionEndsTheSearch) {
    file("[s]\na=1\n[t]\nk=2\n");
    EXPECT_EQ(get("s", "k"), "DEF");
    EXPECT_EQ(code, 1);
}

TEST_F(ProfileGet, LongLineIsSeenAsPieces) {
    // The second 255-character piece of a long line starts with "k=", and
    // the reader treats it as a line of its own.
    file("[s]\n;" + std::string(254, 'x') + "k=piece\n");
    EXPECT_EQ(get("s", "k"), "piece");
}

}  // namespace
