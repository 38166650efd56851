// Files named from outside: only regular files are taken, every byte goes
// through as it is (no line-end translation), listings come in one order,
// and copies keep their sharing rules.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>

#include "platform/dirs.h"
#include "platform/files.h"
#include "temp_dir.h"

using testing_support::read_whole_file;
using testing_support::TempDir;

namespace {

// Bytes that a text-mode stream would change: CR LF pairs, a lone LF, a
// Ctrl+Z (end of file to some runtimes) and a NUL.
const std::string kBinary = std::string("one\r\ntwo\nthree\r\x1a four\0five", 26);

std::string read_stream(std::FILE* f) {
    std::string out;
    char buf[256];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
    return out;
}

TEST(RegularFiles, AFolderIsRefusedInEveryModeAndNothingIsCreated) {
    TempDir dir;
    std::filesystem::create_directory(dir.file("SUB"));
    for (auto access : {platform::FileAccess::read, platform::FileAccess::read_write,
                        platform::FileAccess::write, platform::FileAccess::append}) {
        int error = 0;
        std::FILE* f = platform::open_regular_file(dir.file("SUB"), access, error);
        EXPECT_EQ(f, nullptr);
        if (f != nullptr) std::fclose(f);
        EXPECT_EQ(error, EISDIR);
    }
    std::string text;
    EXPECT_EQ(platform::read_file(dir.path(), text), EISDIR);
    EXPECT_NE(platform::append_file(dir.file("SUB"), "x"), 0);
    EXPECT_FALSE(platform::is_regular_file(dir.file("SUB")));
    EXPECT_TRUE(platform::is_directory(dir.file("SUB")));
    EXPECT_EQ(platform::file_size(dir.file("SUB")), -1);
    EXPECT_EQ(platform::readable_file_size(dir.file("SUB")), -1);
}

TEST(RegularFiles, MissingFilesAreENOENTAndReadModesCreateNothing) {
    TempDir dir;
    int error = 0;
    EXPECT_EQ(platform::open_regular_file(dir.file("NO.TXT"), platform::FileAccess::read, error),
              nullptr);
    EXPECT_EQ(error, ENOENT);
    EXPECT_EQ(
        platform::open_regular_file(dir.file("NO.TXT"), platform::FileAccess::read_write, error),
        nullptr);
    EXPECT_EQ(error, ENOENT);
    std::string text;
    EXPECT_EQ(platform::read_file(dir.file("NO.TXT"), text), ENOENT);
    EXPECT_EQ(platform::remove_file(dir.file("NO.TXT")), ENOENT);
    EXPECT_FALSE(platform::path_exists(dir.file("NO.TXT")));
    EXPECT_EQ(platform::file_size(dir.file("NO.TXT")), -1);
}

TEST(RegularFiles, WriteEmptiesAppendAddsAndReadWriteStartsAtTheBeginning) {
    TempDir dir;
    int error = 0;
    std::string file = dir.write("A.TXT", "old text");
    std::FILE* f = platform::open_regular_file(file, platform::FileAccess::write, error);
    ASSERT_NE(f, nullptr) << error;
    std::fputs("new", f);
    std::fclose(f);
    EXPECT_EQ(read_whole_file(file), "new");
    f = platform::open_regular_file(file, platform::FileAccess::append, error);
    ASSERT_NE(f, nullptr) << error;
    std::fputs("er", f);
    std::fclose(f);
    EXPECT_EQ(read_whole_file(file), "newer");
    f = platform::open_regular_file(file, platform::FileAccess::read_write, error);
    ASSERT_NE(f, nullptr) << error;
    std::fputs("N", f);
    std::fclose(f);
    EXPECT_EQ(read_whole_file(file), "Newer");
    EXPECT_TRUE(platform::is_regular_file(file));
    EXPECT_EQ(platform::file_size(file), 5);
    EXPECT_EQ(platform::readable_file_size(file), 5);
    EXPECT_EQ(platform::sync_file(file), 0);
    EXPECT_EQ(platform::remove_file(file), 0);
    EXPECT_FALSE(platform::path_exists(file));
}

TEST(RegularFiles, TwoAppendersBothWriteAtTheEnd) {
    TempDir dir;
    std::string file = dir.file("LOG.TXT");
    int error = 0;
    std::FILE* a = platform::open_regular_file(file, platform::FileAccess::append, error);
    std::FILE* b = platform::open_regular_file(file, platform::FileAccess::append, error);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    std::fputs("1", a);
    std::fflush(a);
    std::fputs("2", b);
    std::fflush(b);
    std::fputs("3", a);
    std::fflush(a);
    std::fclose(a);
    std::fclose(b);
    EXPECT_EQ(platform::append_file(file, "4"), 0);
    EXPECT_EQ(read_whole_file(file), "1234");
}

TEST(BinaryMode, EveryByteGoesThroughUnchanged) {
    TempDir dir;
    int error = 0;
    std::string file = dir.file("BIN.DAT");
    std::FILE* f = platform::open_regular_file(file, platform::FileAccess::write, error);
    ASSERT_NE(f, nullptr) << error;
    ASSERT_EQ(std::fwrite(kBinary.data(), 1, kBinary.size(), f), kBinary.size());
    std::fclose(f);
    EXPECT_EQ(read_whole_file(file), kBinary);
    EXPECT_EQ(platform::file_size(file), static_cast<int64_t>(kBinary.size()));

    f = platform::open_regular_file(file, platform::FileAccess::read, error);
    ASSERT_NE(f, nullptr) << error;
    EXPECT_EQ(read_stream(f), kBinary);
    std::fclose(f);
    std::string text;
    ASSERT_EQ(platform::read_file(file, text), 0);
    EXPECT_EQ(text, kBinary);

    ASSERT_EQ(platform::append_file(file, kBinary), 0);
    EXPECT_EQ(read_whole_file(file), kBinary + kBinary);
    ASSERT_EQ(platform::write_file_atomic(file, kBinary), 0);
    EXPECT_EQ(read_whole_file(file), kBinary);

    platform::TempFile t;
    ASSERT_EQ(platform::create_temp_file(file, t), 0);
    ASSERT_EQ(std::fwrite(kBinary.data(), 1, kBinary.size(), t.file), kBinary.size());
    std::rewind(t.file);
    EXPECT_EQ(read_stream(t.file), kBinary);
    ASSERT_EQ(platform::commit_temp_file(t, file), 0);
    EXPECT_EQ(read_whole_file(file), kBinary);

    ASSERT_EQ(platform::copy_file_locked(file, dir.file("COPY.DAT"), false, 1, 1, 7),
              platform::kCopyOk);
    EXPECT_EQ(read_whole_file(dir.file("COPY.DAT")), kBinary);
}

TEST(Listing, EntriesComeSortedIgnoringCaseWithKindAndSize) {
    TempDir dir;
    dir.write("b.txt", "12345");
    dir.write("A.txt", "");
    dir.write("_first", "x");
    dir.write("Zed", "zz");
    std::filesystem::create_directory(dir.file("c"));
    std::vector<platform::DirEntry> entries;
    ASSERT_EQ(platform::list_folder(dir.path(), entries), 0);
    std::vector<std::string> names;
    for (const auto& e : entries) names.push_back(e.name);
    EXPECT_EQ(names, (std::vector<std::string>{"_first", "A.txt", "b.txt", "c", "Zed"}));
    ASSERT_EQ(entries.size(), 5u);
    EXPECT_EQ(entries[2].size, 5);
    EXPECT_FALSE(entries[2].is_directory);
    EXPECT_TRUE(entries[3].is_directory);
    EXPECT_EQ(entries[3].size, 0);
    // Times are seconds since 1970, not the system's own epoch.
    int64_t now = static_cast<int64_t>(std::time(nullptr));
    EXPECT_LT(std::llabs(entries[2].modified - now), 24 * 3600) << entries[2].modified;

    EXPECT_EQ(platform::list_folder(dir.file("missing"), entries), ENOENT);
    EXPECT_TRUE(entries.empty());
    EXPECT_NE(platform::list_folder(dir.file("b.txt"), entries), 0);
}

TEST(Listing, NamesAreFoundIgnoringCase) {
    TempDir dir;
    dir.write("Data.Txt", "x");
    EXPECT_EQ(platform::find_name_ignoring_case(dir.path(), "DATA.TXT"), "Data.Txt");
    EXPECT_EQ(platform::find_name_ignoring_case(dir.path(), "data.txt"), "Data.Txt");
    EXPECT_EQ(platform::find_name_ignoring_case(dir.path(), "Data.Txt"), "Data.Txt");
    EXPECT_EQ(platform::find_name_ignoring_case(dir.path(), "data.tx"), "");
    EXPECT_EQ(platform::find_name_ignoring_case(dir.path(), "*"), "");
    EXPECT_EQ(platform::find_name_ignoring_case(dir.file("missing"), "x"), "");
}

TEST(Copy, CopiesAppendsAndRefusesTheSameFile) {
    TempDir dir;
    std::string a = dir.write("A.TXT", "abc");
    std::string b = dir.file("B.TXT");
    EXPECT_EQ(platform::copy_file_locked(a, b, false, 1, 1, 2), platform::kCopyOk);
    EXPECT_EQ(read_whole_file(b), "abc");
    EXPECT_EQ(platform::copy_file_locked(a, b, true, 1, 1, 2), platform::kCopyOk);
    EXPECT_EQ(read_whole_file(b), "abcabc");
    dir.write("C.TXT", "longer old content");
    EXPECT_EQ(platform::copy_file_locked(a, dir.file("C.TXT"), false, 1, 1, 1000),
              platform::kCopyOk);
    EXPECT_EQ(read_whole_file(dir.file("C.TXT")), "abc");
    EXPECT_EQ(platform::copy_file_locked(a, dir.file("./A.TXT"), false, 1, 1, 2),
              platform::kCopyDestinationFailed);
    EXPECT_EQ(platform::copy_file_locked(a, a, true, 1, 1, 2), platform::kCopyDestinationFailed);
    EXPECT_EQ(read_whole_file(a), "abc");
    EXPECT_EQ(platform::copy_file_locked(dir.file("NO.TXT"), b, false, 1, 1, 2),
              platform::kCopySourceFailed);
    EXPECT_EQ(platform::copy_file_locked(a, dir.path(), false, 1, 1, 2),
              platform::kCopyDestinationFailed);
    EXPECT_EQ(platform::copy_file_locked(a, dir.file("missing/X"), false, 1, 1, 2),
              platform::kCopyDestinationFailed);
}

TEST(Folders, MadeOnceAndWritable) {
    TempDir dir;
    std::string sub = dir.file("NEW");
    EXPECT_EQ(platform::make_directory(sub), 0);
    EXPECT_EQ(platform::make_directory(sub), EEXIST);
    EXPECT_TRUE(platform::is_directory(sub));
    EXPECT_TRUE(platform::directory_writable(sub));
    EXPECT_FALSE(platform::directory_writable(dir.file("missing")));
    std::vector<platform::DirEntry> entries;
    ASSERT_EQ(platform::list_folder(sub, entries), 0);
    EXPECT_TRUE(entries.empty());  // the probe left nothing behind
    EXPECT_EQ(platform::make_directory(dir.file("missing/NEW")), ENOENT);
}

TEST(Environment, ThisProgramAndItsFolderAreKnown) {
    std::string self = platform::executable_path();
    EXPECT_TRUE(platform::is_regular_file(self)) << self;
    std::string here = platform::current_directory();
    EXPECT_TRUE(platform::is_directory(here)) << here;
}

}  // namespace
