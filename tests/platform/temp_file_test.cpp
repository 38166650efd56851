// Temporary files: exclusive creation beside the target, the one name
// pattern, commit over links, and the removal of files left by a crash.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/dirs.h"
#include "platform/files.h"
#include "temp_dir.h"

using testing_support::names_in;
using testing_support::read_whole_file;
using testing_support::TempDir;

namespace {

std::string leaf_of(const std::string& path) {
    return path.substr(path.find_last_of("/\\") + 1);
}

TEST(TempFile, IsCreatedBesideTheTargetUnderThePatternAndCommitted) {
    TempDir dir;
    std::string target = dir.file("DATA.TXT");
    platform::TempFile t;
    ASSERT_EQ(platform::create_temp_file(target, t), 0);
    ASSERT_NE(t.file, nullptr);
    std::string leaf = leaf_of(t.path);
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
    TempDir dir;
    dir.write(".qltmp-00000000deadbeef-DATA.TXT", "left by a crash");
    dir.write(".qltmp-0000000000000001-", "");
    dir.write("DATA.TXT", "user data");
    dir.write(".DATA.TXT.1234abcd.part", "not ours");

    platform::TempFile live;  // held by a writer that is still running
    ASSERT_EQ(platform::create_temp_file(dir.file("LIVE.TXT"), live), 0);
    platform::TempFile closed;  // its stream closed by the caller, still held
    ASSERT_EQ(platform::create_temp_file(dir.file("CLOSED.TXT"), closed), 0);
    std::fputs("kept", closed.file);
    ASSERT_EQ(std::fclose(closed.file), 0);
    closed.file = nullptr;

    EXPECT_EQ(platform::remove_stale_temp_files(dir.path()), 2);
    std::vector<std::string> expected{".DATA.TXT.1234abcd.part", leaf_of(live.path),
                                      leaf_of(closed.path), "DATA.TXT"};
    std::sort(expected.begin(), expected.end(), [](const std::string& a, const std::string& b) {
        auto lower = [](std::string s) {
            for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            return s;
        };
        return lower(a) != lower(b) ? lower(a) < lower(b) : a < b;
    });
    EXPECT_EQ(names_in(dir.path()), expected);
    EXPECT_EQ(platform::commit_temp_file(live, dir.file("LIVE.TXT")), 0);
    EXPECT_EQ(platform::commit_temp_file(closed, dir.file("CLOSED.TXT")), 0);
    EXPECT_EQ(read_whole_file(dir.file("CLOSED.TXT")), "kept");
}

TEST(TempFile, CommitReplacesAnExistingTarget) {
    TempDir dir;
    std::string target = dir.write("DATA.TXT", "old content, longer than the new");
    platform::TempFile t;
    ASSERT_EQ(platform::create_temp_file(target, t), 0);
    std::fputs("new", t.file);
    ASSERT_EQ(platform::commit_temp_file(t, target), 0);
    EXPECT_EQ(read_whole_file(target), "new");
    ASSERT_EQ(platform::write_file_atomic(target, "newer"), 0);
    EXPECT_EQ(read_whole_file(target), "newer");
    EXPECT_EQ(names_in(dir.path()), std::vector<std::string>{"DATA.TXT"});
}

TEST(TempFile, ManyAtOnceGetNamesOfTheirOwn) {
    TempDir dir;
    std::vector<platform::TempFile> files(64);
    for (auto& t : files) ASSERT_EQ(platform::create_temp_file(dir.file("X"), t), 0);
    EXPECT_EQ(names_in(dir.path()).size(), files.size());
    for (size_t i = 0; i < files.size(); ++i) {
        std::fprintf(files[i].file, "%zu", i);
        ASSERT_EQ(std::fflush(files[i].file), 0);
    }
    for (size_t i = 0; i < files.size(); ++i) {
        EXPECT_EQ(read_whole_file(files[i].path), std::to_string(i));
    }
    for (auto& t : files) platform::discard_temp_file(t);
    EXPECT_TRUE(names_in(dir.path()).empty());
}

TEST(TempFile, AMissingFolderIsAnErrorAndLeavesNothing) {
    TempDir dir;
    platform::TempFile t;
    EXPECT_EQ(platform::create_temp_file(dir.file("missing/X"), t), ENOENT);
    EXPECT_EQ(t.file, nullptr);
    EXPECT_TRUE(t.path.empty());
    EXPECT_EQ(platform::write_file_atomic(dir.file("missing/X"), "x"), ENOENT);
    EXPECT_TRUE(names_in(dir.path()).empty());
}

TEST(TempFile, CommitOverAFolderFailsAndRemovesTheTemporaryFile) {
    TempDir dir;
    std::filesystem::create_directory(dir.file("SUB"));
    EXPECT_EQ(platform::replaceable_target(dir.file("SUB")), EISDIR);
    EXPECT_EQ(platform::replaceable_target(dir.file("NEW")), 0);
    platform::TempFile t;
    ASSERT_EQ(platform::create_temp_file(dir.file("SUB"), t), 0);
    EXPECT_NE(platform::commit_temp_file(t, dir.file("SUB")), 0);
    EXPECT_EQ(names_in(dir.path()), std::vector<std::string>{"SUB"});
    EXPECT_TRUE(platform::is_directory(dir.file("SUB")));
}

}  // namespace
