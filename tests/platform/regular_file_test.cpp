// Files named from outside are opened without waiting, and only regular
// files are taken: a pipe with nobody at the other end must not hold the
// caller, in any mode.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/dirs.h"
#include "platform/files.h"
#include "temp_dir.h"

using testing_support::read_whole_file;
using testing_support::TempDir;

namespace {

class RegularFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        pipe_ = dir_.file("PIPE");
        ASSERT_EQ(::mkfifo(pipe_.c_str(), 0600), 0);
    }
    TempDir dir_;
    std::string pipe_;
};

TEST_F(RegularFiles, APipeIsRefusedInEveryModeWithoutWaiting) {
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

TEST_F(RegularFiles, AFolderIsRefusedAndAFileIsOpened) {
    int error = 0;
    EXPECT_EQ(platform::open_regular_file(dir_.path(), platform::FileAccess::read, error), nullptr);
    EXPECT_EQ(error, EISDIR);

    std::string file = dir_.write("A.TXT", "old text");
    std::FILE* f = platform::open_regular_file(file, platform::FileAccess::write, error);
    ASSERT_NE(f, nullptr);
    std::fputs("new", f);
    std::fclose(f);
    EXPECT_EQ(read_whole_file(file), "new");
    f = platform::open_regular_file(file, platform::FileAccess::append, error);
    ASSERT_NE(f, nullptr);
    std::fputs("er", f);
    std::fclose(f);
    EXPECT_EQ(read_whole_file(file), "newer");
    EXPECT_TRUE(platform::is_regular_file(file));
}

TEST_F(RegularFiles, CopyRefusesAPipeOnEitherSide) {
    std::string file = dir_.write("A.TXT", "data");
    EXPECT_EQ(platform::copy_file_locked(pipe_, dir_.file("B.TXT"), false, 1, 1, 1000),
              platform::kCopySourceFailed);
    EXPECT_EQ(platform::copy_file_locked(file, pipe_, false, 1, 1, 1000),
              platform::kCopyDestinationFailed);
    EXPECT_EQ(platform::copy_file_locked(file, pipe_, true, 1, 1, 1000),
              platform::kCopyDestinationFailed);
    EXPECT_EQ(platform::readable_file_size(pipe_), -1);
}

}  // namespace
