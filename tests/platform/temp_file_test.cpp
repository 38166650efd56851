// Temporary files: exclusive creation beside the target, the one name
// pattern, commit over links, and the removal of files left by a crash.
#include <gtest/gtest.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/dirs.h"
#include "platform/files.h"
#include "temp_dir.h"

using testing_support::read_whole_file;
using testing_support::TempDir;

namespace {

std::vector<std::string> names_in(const std::string& dir) {
    std::vector<platform::DirEntry> entries;
    platform::list_folder(dir, entries);
    std::vector<std::string> names;
    for (const auto& e : entries) names.push_back(e.name);
    return names;
}

bool is_link(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

TEST(TempFile, IsCreatedBesideTheTargetUnderThePatternAndCommitted) {
    TempDir dir;
    std::string target = dir.file("DATA.TXT");
    platform::TempFile t;
    ASSERT_EQ(platform::create_temp_file(target, t), 0);
    ASSERT_NE(t.file, nullptr);
    std::string leaf = t.path.substr(t.path.find_last_of('/') + 1);
    EXPECT_EQ(t.path.substr(0, dir.path().size() + 1), dir.path() + "/");
    EXPECT_TRUE(platform::is_temp_file_name(leaf)) << leaf;
    EXPECT_EQ(leaf.substr(leaf.size() - 8), "DATA.TXT");

    std::fputs("new content", t.file);
    ASSERT_EQ(platform::commit_temp_file(t, target), 0);
    EXPECT_EQ(t.file, nullptr);
    EXPECT_EQ(read_whole_file(target), "new content");
    EXPECT_EQ(names_in(dir.path()), std::vector<std::string>{"DATA.TXT"});
}

TEST(TempFile, NamesAreUniqueAndDiscardLeavesNothing) {
    TempDir dir;
    platform::TempFile a, b;
    ASSERT_EQ(platform::create_temp_file(dir.file("X"), a), 0);
    ASSERT_EQ(platform::create_temp_file(dir.file("X"), b), 0);
    EXPECT_NE(a.path, b.path);
    platform::discard_temp_file(a);
    platform::discard_temp_file(b);
    EXPECT_TRUE(names_in(dir.path()).empty());
}

TEST(TempFile, CommitReplacesALinkAndLeavesItsTargetAlone) {
    TempDir outside, dir;
    std::string victim = outside.write("victim", "precious");
    std::string target = dir.file("OUT.TXT");
    ASSERT_EQ(::symlink(victim.c_str(), target.c_str()), 0);
    platform::TempFile t;
    ASSERT_EQ(platform::create_temp_file(target, t), 0);
    std::fputs("downloaded", t.file);
    ASSERT_EQ(platform::commit_temp_file(t, target), 0);
    EXPECT_FALSE(is_link(target));
    EXPECT_EQ(read_whole_file(target), "downloaded");
    EXPECT_EQ(read_whole_file(victim), "precious");
}

TEST(TempFile, CommitKeepsTheModeOfAnExistingFile) {
    TempDir dir;
    std::string target = dir.write("ro.txt", "old");
    ::chmod(target.c_str(), 0640);
    platform::TempFile t;
    ASSERT_EQ(platform::create_temp_file(target, t), 0);
    ASSERT_EQ(platform::commit_temp_file(t, target), 0);
    struct stat st;
    ASSERT_EQ(::stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST(TempFile, WriteFileAtomicReplacesALinkInsteadOfWritingThroughIt) {
    TempDir outside, dir;
    std::string victim = outside.write("victim", "precious");
    std::string target = dir.file("quaylink.ini");
    ASSERT_EQ(::symlink(victim.c_str(), target.c_str()), 0);
    ASSERT_EQ(platform::write_file_atomic(target, "[setup]\r\n"), 0);
    EXPECT_FALSE(is_link(target));
    EXPECT_EQ(read_whole_file(victim), "precious");
    EXPECT_EQ(names_in(dir.path()), std::vector<std::string>{"quaylink.ini"});
}

TEST(TempFile, CopyReplacesALinkAtTheDestination) {
    TempDir outside, dir;
    std::string victim = outside.write("victim", "precious");
    std::string source = dir.write("A.TXT", "copied");
    std::string dest = dir.file("B.TXT");
    ASSERT_EQ(::symlink(victim.c_str(), dest.c_str()), 0);
    EXPECT_EQ(platform::copy_file_locked(source, dest, false, 1, 1, 1000), platform::kCopyOk);
    EXPECT_FALSE(is_link(dest));
    EXPECT_EQ(read_whole_file(dest), "copied");
    EXPECT_EQ(read_whole_file(victim), "precious");
    EXPECT_EQ(names_in(dir.path()), (std::vector<std::string>{"A.TXT", "B.TXT"}));
}

TEST(TempFile, PatternIsRecognisedExactly) {
    EXPECT_TRUE(platform::is_temp_file_name(".qltmp-0123456789abcdef-A.TXT"));
    EXPECT_TRUE(platform::is_temp_file_name(".qltmp-0123456789abcdef-"));
    EXPECT_FALSE(platform::is_temp_file_name(".qltmp-0123456789ABCDEF-A.TXT"));
    EXPECT_FALSE(platform::is_temp_file_name(".qltmp-0123456789abcde-A.TXT"));
    EXPECT_FALSE(platform::is_temp_file_name("qltmp-0123456789abcdef-A.TXT"));
    EXPECT_FALSE(platform::is_temp_file_name(".A.TXT.1234abcd.part"));
    EXPECT_FALSE(platform::is_temp_file_name("A.TXT.qlpart"));
    EXPECT_FALSE(platform::is_temp_file_name(""));
}

TEST(StaleTempFiles, OnlyUnheldFilesOfThePatternAreRemoved) {
    TempDir outside, dir;
    std::string victim = outside.write("victim", "precious");
    dir.write(".qltmp-00000000deadbeef-DATA.TXT", "left by a crash");
    dir.write(".qltmp-0000000000000001-", "");
    dir.write("DATA.TXT", "user data");
    dir.write(".DATA.TXT.1234abcd.part", "not ours");
    std::string link = dir.file(".qltmp-00000000cafef00d-x");
    ASSERT_EQ(::symlink(victim.c_str(), link.c_str()), 0);
    ASSERT_EQ(::mkdir(dir.file(".qltmp-00000000feedface-d").c_str(), 0755), 0);

    platform::TempFile live;  // held by a writer that is still running
    ASSERT_EQ(platform::create_temp_file(dir.file("LIVE.TXT"), live), 0);
    std::string live_leaf = live.path.substr(live.path.find_last_of('/') + 1);

    EXPECT_EQ(platform::remove_stale_temp_files(dir.path()), 2);
    std::vector<std::string> expected{".DATA.TXT.1234abcd.part", ".qltmp-00000000cafef00d-x",
                                      ".qltmp-00000000feedface-d", live_leaf, "DATA.TXT"};
    std::sort(expected.begin(), expected.end(), [](const std::string& a, const std::string& b) {
        int c = ::strcasecmp(a.c_str(), b.c_str());
        return c != 0 ? c < 0 : a < b;
    });
    EXPECT_EQ(names_in(dir.path()), expected);
    EXPECT_EQ(read_whole_file(victim), "precious");
    EXPECT_EQ(platform::commit_temp_file(live, dir.file("LIVE.TXT")), 0);
}

}  // namespace
