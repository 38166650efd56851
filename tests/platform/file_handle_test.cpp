// Files held through a handle: who may hold a file at the same time,
// positioned reads and writes, cutting back, and whether a name still leads
// to the file a handle has open. Built for every OS.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "platform/file_handle.h"
#include "platform/files.h"

namespace {

namespace fs = std::filesystem;
using platform::FileHandle;
using platform::kNoFile;

// A fresh folder per test, made with the standard library alone so that
// the test runs the same on every OS.
class Scratch {
  public:
    Scratch() {
        std::random_device random;
        dir_ = fs::temp_directory_path() / ("qlfh-" + std::to_string(random()));
        fs::create_directories(dir_);
    }
    ~Scratch() {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    std::string path(const std::string& name) const { return (dir_ / name).string(); }
    std::string dir() const { return dir_.string(); }
    std::string write(const std::string& name, const std::string& content) const {
        std::ofstream(dir_ / name, std::ios::binary) << content;
        return path(name);
    }
    std::string read(const std::string& name) const {
        std::ifstream in(dir_ / name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

  private:
    fs::path dir_;
};

// Closes whatever a test left open.
struct Held {
    FileHandle h = kNoFile;
    ~Held() { platform::file_close(h); }
};

int open_writer(const std::string& path, Held& out, bool& busy) {
    return platform::file_open_exclusive(path, {.read = true}, out.h, busy);
}

TEST(FileHandle, ASecondHolderIsTurnedAwayAtOnceUntilTheFirstLetsGo) {
    Scratch scratch;
    std::string path = scratch.path("DEVSCAN.CSV");
    Held first, second;
    bool busy = true;
    ASSERT_EQ(open_writer(path, first, busy), 0);
    EXPECT_FALSE(busy);
    EXPECT_TRUE(fs::exists(path));  // created when missing

    EXPECT_EQ(open_writer(path, second, busy), EWOULDBLOCK);
    EXPECT_TRUE(busy);
    EXPECT_EQ(second.h, kNoFile);

    EXPECT_EQ(platform::file_close(first.h), 0);
    EXPECT_EQ(first.h, kNoFile);
    EXPECT_EQ(open_writer(path, second, busy), 0);
    EXPECT_FALSE(busy);
}

TEST(FileHandle, ReadersShareAFileButNotWithItsHolder) {
    Scratch scratch;
    std::string path = scratch.write("DATA.TXT", "line\n");
    Held reader1, reader2, writer;
    ASSERT_EQ(platform::file_open_shared_read(path, reader1.h), 0);
    ASSERT_EQ(platform::file_open_shared_read(path, reader2.h), 0);
    bool busy = false;
    EXPECT_EQ(open_writer(path, writer, busy), EWOULDBLOCK);
    EXPECT_TRUE(busy);

    platform::file_close(reader1.h);
    platform::file_close(reader2.h);
    ASSERT_EQ(open_writer(path, writer, busy), 0);
    Held late_reader;
    EXPECT_EQ(platform::file_open_shared_read(path, late_reader.h), EWOULDBLOCK);
    EXPECT_EQ(late_reader.h, kNoFile);
}

TEST(FileHandle, OnlyFilesAreTakenAndMissingOnesAreNotCreatedForReading) {
    Scratch scratch;
    Held h;
    EXPECT_EQ(platform::file_open_shared_read(scratch.path("none"), h.h), ENOENT);
    EXPECT_FALSE(fs::exists(scratch.path("none")));
    EXPECT_EQ(platform::file_open_shared_read(scratch.dir(), h.h), EISDIR);
    bool busy = true;
    EXPECT_EQ(platform::file_open_exclusive(scratch.dir(), {}, h.h, busy), EISDIR);
    EXPECT_FALSE(busy);
    EXPECT_EQ(h.h, kNoFile);
}

TEST(FileHandle, PositionedWritesAndReadsIgnoreTheCurrentPosition) {
    Scratch scratch;
    std::string path = scratch.path("QLCALLNO.DAT");
    Held h;
    bool busy = false;
    ASSERT_EQ(open_writer(path, h, busy), 0);
    size_t done = 0;
    // A write past the end leaves zero bytes in the gap.
    ASSERT_EQ(platform::file_write_at(h.h, 4, "42", 2, done), 0);
    EXPECT_EQ(done, 2u);
    ASSERT_EQ(platform::file_write_at(h.h, 0, "7", 1, done), 0);

    char record[16] = {};
    ASSERT_EQ(platform::file_read_at(h.h, 0, record, sizeof record, done), 0);
    EXPECT_EQ(done, 6u);  // short only at the end of the file
    EXPECT_EQ(std::string(record, done), std::string("7\0\0\0"
                                                     "42",
                                                     6));
    ASSERT_EQ(platform::file_read_at(h.h, 4, record, 1, done), 0);
    EXPECT_EQ(record[0], '4');
    ASSERT_EQ(platform::file_read_at(h.h, 100, record, 4, done), 0);
    EXPECT_EQ(done, 0u);
    platform::file_close(h.h);
    EXPECT_EQ(scratch.read("QLCALLNO.DAT"), std::string("7\0\0\0"
                                                        "42",
                                                        6));
}

TEST(FileHandle, CuttingBackPositionsAtTheNewEnd) {
    Scratch scratch;
    std::string path = scratch.write("DEVSCAN.CSV", "header\nrecord one\n");
    Held h;
    bool busy = false;
    ASSERT_EQ(platform::file_open_exclusive(path, {}, h.h, busy), 0);
    int64_t length = 0;
    ASSERT_EQ(platform::file_seek_end(h.h, length), 0);
    EXPECT_EQ(length, 18);
    size_t written = 0;
    ASSERT_EQ(platform::file_write_all(h.h, "record two\n", 11, written), 0);
    EXPECT_EQ(written, 11u);

    ASSERT_EQ(platform::file_truncate(h.h, 7), 0);
    ASSERT_EQ(platform::file_write_all(h.h, "again\n", 6, written), 0);
    ASSERT_EQ(platform::file_flush(h.h), 0);
    ASSERT_EQ(platform::file_seek_end(h.h, length), 0);
    EXPECT_EQ(length, 13);
    platform::file_close(h.h);
    EXPECT_EQ(scratch.read("DEVSCAN.CSV"), "header\nagain\n");
}

TEST(FileHandle, PlainReadsFollowThePositionToTheEnd) {
    Scratch scratch;
    std::string path = scratch.write("DATA.TXT", "abc\r\ndef");
    Held h;
    ASSERT_EQ(platform::file_open_shared_read(path, h.h), 0);
    char buffer[4];
    size_t got = 0;
    std::string all;
    do {
        ASSERT_EQ(platform::file_read_some(h.h, buffer, sizeof buffer, got), 0);
        all.append(buffer, got);
    } while (got != 0);
    EXPECT_EQ(all, "abc\r\ndef");  // binary: no line-end translation
}

TEST(FileHandle, ANameLeadsToTheOpenFileOnlyUntilAnotherTakesItsPlace) {
    Scratch scratch;
    std::string path = scratch.write("DATA.TXT", "old\n");
    Held h;
    ASSERT_EQ(platform::file_open_shared_read(path, h.h), 0);
    bool same = false;
    ASSERT_EQ(platform::file_is_named_by(h.h, path, same), 0);
    EXPECT_TRUE(same);
    std::string other = scratch.write("OTHER.TXT", "old\n");
    ASSERT_EQ(platform::file_is_named_by(h.h, other, same), 0);
    EXPECT_FALSE(same);  // equal content is not the same file

    // The held file moves away and a new upload takes its name.
    std::string moved = scratch.path("DATA.OLD");
    fs::rename(path, moved);
    same = true;
    EXPECT_EQ(platform::file_is_named_by(h.h, path, same), 0);  // gone is no error
    EXPECT_FALSE(same);
    scratch.write("DATA.TXT", "new\n");
    ASSERT_EQ(platform::file_is_named_by(h.h, path, same), 0);
    EXPECT_FALSE(same);
}

TEST(FileHandle, AHeldFileIsReplacedByATemporaryFileAndLetGo) {
    Scratch scratch;
    std::string path = scratch.write("DATA.TXT", "done\ntail");
    Held h;
    ASSERT_EQ(platform::file_open_shared_read(path, h.h), 0);
    platform::TempFile temp;
    ASSERT_EQ(platform::create_temp_file(path, temp), 0);
    ASSERT_GE(std::fputs("tail", temp.file), 0);
    EXPECT_EQ(platform::commit_temp_file_over_held(temp, path, h.h), 0);
    EXPECT_EQ(h.h, kNoFile);
    EXPECT_EQ(scratch.read("DATA.TXT"), "tail");
}

TEST(FileHandle, AReaderMayRemoveTheFileItHolds) {
    Scratch scratch;
    std::string path = scratch.write("DATA.TXT", "line\n");
    Held h;
    ASSERT_EQ(platform::file_open_shared_read(path, h.h), 0);
    EXPECT_EQ(platform::remove_file(path), 0);
    platform::file_close(h.h);
    EXPECT_FALSE(fs::exists(path));
}

}  // namespace
