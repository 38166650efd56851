// What only POSIX systems have: pipes, symbolic links, permission bits and
// flock. A pipe with nobody at the other end must not hold the caller, in
// any mode; a link at a target is replaced, never written through.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/beneath.h"
#include "platform/dirs.h"
#include "platform/files.h"
#include "temp_dir.h"

using testing_support::names_in;
using testing_support::read_whole_file;
using testing_support::TempDir;

namespace {

bool is_link(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

std::string real(const std::string& path) {
    std::string out;
    int rc = platform::resolve_real_path(path, out);
    return rc == 0 ? out : "error " + std::to_string(rc);
}

class PosixPipes : public ::testing::Test {
  protected:
    void SetUp() override {
        pipe_ = dir_.file("PIPE");
        ASSERT_EQ(::mkfifo(pipe_.c_str(), 0600), 0);
    }
    TempDir dir_;
    std::string pipe_;
};

TEST_F(PosixPipes, APipeIsRefusedInEveryModeWithoutWaiting) {
    for (auto access : {platform::FileAccess::read, platform::FileAccess::read_write,
                        platform::FileAccess::write, platform::FileAccess::append}) {
        int error = 0;
        std::FILE* f = platform::open_regular_file(pipe_, access, error);
        EXPECT_EQ(f, nullptr);
        if (f != nullptr) std::fclose(f);
        // A write-only open of a pipe without a reader fails with ENXIO.
        EXPECT_TRUE(error == platform::not_regular_error() || error == ENXIO) << error;
    }
    std::string text;
    EXPECT_NE(platform::read_file(pipe_, text), 0);
    EXPECT_NE(platform::append_file(pipe_, "x"), 0);
    EXPECT_NE(platform::sync_file(pipe_), 0);
    EXPECT_FALSE(platform::is_regular_file(pipe_));
}

TEST_F(PosixPipes, CopyRefusesAPipeOnEitherSide) {
    std::string file = dir_.write("A.TXT", "data");
    EXPECT_EQ(platform::copy_file_locked(pipe_, dir_.file("B.TXT"), false, 1, 1, 1000),
              platform::kCopySourceFailed);
    EXPECT_EQ(platform::copy_file_locked(file, pipe_, false, 1, 1, 1000),
              platform::kCopyDestinationFailed);
    EXPECT_EQ(platform::copy_file_locked(file, pipe_, true, 1, 1, 1000),
              platform::kCopyDestinationFailed);
    EXPECT_EQ(platform::readable_file_size(pipe_), -1);
}

TEST(PosixTempFile, CommitReplacesALinkAndLeavesItsTargetAlone) {
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

TEST(PosixTempFile, CommitKeepsTheModeOfAnExistingFile) {
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

TEST(PosixTempFile, WriteFileAtomicReplacesALinkInsteadOfWritingThroughIt) {
    TempDir outside, dir;
    std::string victim = outside.write("victim", "precious");
    std::string target = dir.file("quaylink.ini");
    ASSERT_EQ(::symlink(victim.c_str(), target.c_str()), 0);
    ASSERT_EQ(platform::write_file_atomic(target, "[setup]\r\n"), 0);
    EXPECT_FALSE(is_link(target));
    EXPECT_EQ(read_whole_file(victim), "precious");
    EXPECT_EQ(names_in(dir.path()), std::vector<std::string>{"quaylink.ini"});
}

TEST(PosixTempFile, CopyReplacesALinkAtTheDestination) {
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

TEST(PosixStaleTempFiles, LinksAndFoldersOfThePatternAreLeftAlone) {
    TempDir outside, dir;
    std::string victim = outside.write("victim", "precious");
    dir.write(".qltmp-00000000deadbeef-DATA.TXT", "left by a crash");
    std::string link = dir.file(".qltmp-00000000cafef00d-x");
    ASSERT_EQ(::symlink(victim.c_str(), link.c_str()), 0);
    ASSERT_EQ(::mkdir(dir.file(".qltmp-00000000feedface-d").c_str(), 0755), 0);
    EXPECT_EQ(platform::remove_stale_temp_files(dir.path()), 1);
    EXPECT_EQ(names_in(dir.path()),
              (std::vector<std::string>{".qltmp-00000000cafef00d-x", ".qltmp-00000000feedface-d"}));
    EXPECT_EQ(read_whole_file(victim), "precious");
}

TEST(PosixCopy, ADestinationLockedByAnotherHolderIsBusyAfterEveryTry) {
    TempDir dir;
    std::string source = dir.write("A.TXT", "new");
    std::string dest = dir.write("B.TXT", "old");
    int holder = ::open(dest.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX), 0);
    EXPECT_EQ(platform::copy_file_locked(source, dest, false, 3, 1, 1000),
              platform::kCopyDestinationBusy);
    EXPECT_EQ(platform::copy_file_locked(source, dest, true, 3, 1, 1000),
              platform::kCopyDestinationBusy);
    ::close(holder);
    EXPECT_EQ(read_whole_file(dest), "old");
    EXPECT_EQ(platform::copy_file_locked(source, dest, true, 3, 1, 1000), platform::kCopyOk);
    EXPECT_EQ(read_whole_file(dest), "oldnew");
}

TEST(PosixRealPath, LinksAreFollowedAndTheMissingRestKept) {
    TempDir dir;
    std::string base = real(dir.path());
    ASSERT_EQ(base.rfind('/', 0), 0u) << base;
    std::filesystem::create_directories(dir.file("a/b"));
    dir.write("a/file", "x");
    std::filesystem::create_directory_symlink(dir.file("a/b"), dir.file("link"));
    EXPECT_EQ(real(dir.file("link/new/deeper.txt")), base + "/a/b/new/deeper.txt");
    EXPECT_EQ(real(dir.file("link/../file")), base + "/a/file");  // ".." after the link's target
    EXPECT_EQ(real("/"), "/");
    EXPECT_EQ(real("/.."), "/");
}

TEST(PosixRealPath, DanglingLinksAndLoopsAreErrors) {
    TempDir dir;
    std::filesystem::create_symlink(dir.file("nowhere/x"), dir.file("dangling"));
    std::filesystem::create_symlink(dir.file("loop"), dir.file("loop"));
    EXPECT_NE(real(dir.file("dangling")).rfind("error", 0), std::string::npos);
    EXPECT_NE(real(dir.file("loop")).rfind("error", 0), std::string::npos);
}

}  // namespace

// Names opened beneath a held folder, by openat2 and by the walk that stands
// in for it on older kernels: the same answers either way.
class PosixBeneath : public ::testing::TestWithParam<bool> {
  protected:
    void SetUp() override {
        platform::beneath_force_walk(GetParam());
        dir_.write("outside.txt", "secret");
        std::filesystem::create_directories(dir_.file("root/sub"));
        dir_.write("root/sub/in.txt", "inside");
        std::filesystem::create_symlink("../outside.txt", dir_.file("root/out.txt"));
        std::filesystem::create_symlink(dir_.file("root/sub/in.txt"), dir_.file("root/abs.txt"));
        std::filesystem::create_directory_symlink("..", dir_.file("root/up"));
        std::filesystem::create_symlink("/proc/self/root", dir_.file("root/magic"));
        ASSERT_EQ(platform::folder_hold(dir_.file("root"), root_), 0);
    }
    void TearDown() override {
        platform::folder_release(root_);
        platform::beneath_force_walk(false);
    }
    int open(const std::string& rel) {
        platform::FileHandle h = platform::kNoFile;
        int rc = platform::file_open_beneath(root_, rel, platform::FileAccess::read, false, h);
        platform::file_close(h);
        return rc;
    }

    TempDir dir_;
    platform::HeldFolder root_;
};

TEST_P(PosixBeneath, NothingOutsideTheHeldFolderIsReached) {
    EXPECT_EQ(open("sub/in.txt"), 0);
    EXPECT_EQ(open("sub/../sub/in.txt"), 0);
    EXPECT_EQ(open("sub/missing.txt"), ENOENT);
    EXPECT_EQ(open("sub"), EISDIR);
    for (const char* rel : {"../outside.txt", "out.txt", "up/outside.txt", "abs.txt",
                            "magic/etc/passwd", "/etc/passwd", "sub/../../outside.txt"}) {
        int rc = open(rel);
        EXPECT_TRUE(rc == EXDEV || rc == ELOOP) << rel << ": " << rc;
    }
    platform::HeldFolder up;
    EXPECT_NE(platform::folder_hold_beneath(root_, "up", up), 0);
    platform::HeldFolder sub;
    ASSERT_EQ(platform::folder_hold_beneath(root_, "sub", sub), 0);
    // The held folder is what is used, whatever its name leads to later.
    std::filesystem::rename(dir_.file("root/sub"), dir_.file("root/old"));
    std::filesystem::create_directory_symlink(dir_.file("."), dir_.file("root/sub"));
    platform::TempFile t;
    ASSERT_EQ(platform::create_temp_file_in(sub, "new.txt", t), 0);
    std::fputs("fresh", t.file);
    EXPECT_EQ(platform::commit_temp_file_in(sub, t, "new.txt"), 0);
    EXPECT_EQ(read_whole_file(dir_.file("root/old/new.txt")), "fresh");
    EXPECT_FALSE(std::filesystem::exists(dir_.file("new.txt")));
    platform::folder_release(sub);
}

INSTANTIATE_TEST_SUITE_P(OpenAt2AndWalk, PosixBeneath, ::testing::Bool());
