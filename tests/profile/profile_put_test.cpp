#include <sys/stat.h>

#include <gtest/gtest.h>

#include "profile/profile.h"
#include "temp_dir.h"

using profile::profile_put;
using testing_support::TempDir;

namespace {

class ProfilePut : public ::testing::Test {
protected:
    int put(const char* section, const char* key, const char* value, int only = 0) {
        return profile_put(path, section, key, value, only);
    }
    std::string content() { return dir.read("a.ini"); }

    TempDir dir;
    std::string path = dir.file("a.ini");
};

TEST_F(ProfilePut, NewFileGetsSectionAndKey) {
    EXPECT_EQ(put("setup", "commport", "3"), 0);
    EXPECT_EQ(content(), "[setup]\r\ncommport=3\r\n");
}

TEST_F(ProfilePut, MissingKeyGoesLastInItsSectionBeforeNextHeader) {
    dir.write("a.ini", "[a]\r\nx=1\r\n\r\n[b]\r\ny=2\r\n");
    EXPECT_EQ(put("a", "k", "v"), 0);
    EXPECT_EQ(content(), "[a]\r\nx=1\r\n\r\nk=v\r\n[b]\r\ny=2\r\n");
}

TEST_F(ProfilePut, KeyIsReplacedOnlyInTheNamedSectionWithItsComment) {
    dir.write("a.ini", "; top\r\n[a]\r\nk=1 ; note\r\n[b]\r\nk=2\r\n");
    EXPECT_EQ(put("b", "k", "3"), 0);
    EXPECT_EQ(content(), "; top\r\n[a]\r\nk=1 ; note\r\n[b]\r\nk=3\r\n");
    EXPECT_EQ(put("a", "k", "9"), 0);
    EXPECT_EQ(content(), "; top\r\n[a]\r\nk=9\r\n[b]\r\nk=3\r\n");
}

TEST_F(ProfilePut, MissingSectionIsAppendedAndAnUnterminatedLastLineIsKeptApart) {
    dir.write("a.ini", "[a]\nx=1");
    EXPECT_EQ(put("b", "k", "v"), 0);
    EXPECT_EQ(content(), "[a]\nx=1\r\n[b]\r\nk=v\r\n");
}

TEST_F(ProfilePut, TurnRemOnTwicePutsTwoSemicolonsAndOffRemovesOne) {
    dir.write("a.ini", "[s]\r\nk=v\r\n");
    EXPECT_EQ(put("s", "k", profile::kTurnRemOn), 0);
    EXPECT_EQ(put("s", "k", profile::kTurnRemOn), 0);
    EXPECT_EQ(content(), "[s]\r\n;;k=v\r\n");
    dir.write("a.ini", "[s]\r\n;k=v\r\n");
    EXPECT_EQ(put("s", "k", profile::kTurnRemOff), 0);
    EXPECT_EQ(content(), "[s]\r\nk=v\r\n");
}

TEST_F(ProfilePut, RemSwitchOnAMissingKeyChangesNothing) {
    dir.write("a.ini", "[s]\r\nx=1\r\n");
    EXPECT_EQ(put("s", "k", profile::kTurnRemOn), 0);
    EXPECT_EQ(put("s", "k", profile::kTurnRemOff), 0);
    EXPECT_EQ(content(), "[s]\r\nx=1\r\n");
    EXPECT_EQ(profile_put(dir.file("none.ini"), "s", "k", profile::kTurnRemOn, 0), 0);
    EXPECT_FALSE(testing_support::read_whole_file(dir.file("none.ini")).size());
}

TEST_F(ProfilePut, SectionOnlyAddsTheHeaderOnce) {
    dir.write("a.ini", "[a]\r\n");
    EXPECT_EQ(put("b", "", "", 1), 0);
    EXPECT_EQ(put("b", "", "", 1), 0);
    EXPECT_EQ(content(), "[a]\r\n[b]\r\n");
}

TEST_F(ProfilePut, UnreadableFileGivesMinus100AndNoChange) {
    EXPECT_EQ(profile_put(dir.path(), "s", "k", "v", 0), profile::kOpenFailed);
    EXPECT_EQ(profile_put(dir.file("no/such/dir.ini"), "s", "k", "v", 0), profile::kOpenFailed);
}

TEST_F(ProfilePut, RewriteKeepsPermissions) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows has no permission bits: a rewritten file keeps its folder's rights";
#endif
    dir.write("a.ini", "[s]\r\nk=1\r\n");
    ::chmod(path.c_str(), 0640);
    ASSERT_EQ(put("s", "k", "2"), 0);
    struct stat st;
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST_F(ProfilePut, DeleteAndInsertBytes) {
    dir.write("a.ini", "0123456789");
    EXPECT_EQ(profile::file_delete_range(path, 2, 3), 0);
    EXPECT_EQ(content(), "0156789");
    EXPECT_EQ(profile::file_insert_bytes(path, "abc", 7, 3), 0);
    EXPECT_EQ(content(), "0156789abc");
    EXPECT_EQ(profile::file_insert_bytes(path, "x", 99, 1), profile::kSeekFailed);
    EXPECT_EQ(profile::file_delete_range(dir.file("nope"), 0, 1), profile::kOpenFailed);
}

TEST_F(ProfilePut, WrittenValueReadsBack) {
    ASSERT_EQ(put("modem init", "init1", "AT&F"), 0);
    std::string value;
    EXPECT_EQ(profile::profile_get(path, "modem init", "init1", value, "", 64), 0);
    EXPECT_EQ(value, "AT&F");
}

}  // namespace
