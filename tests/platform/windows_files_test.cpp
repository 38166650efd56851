// What only Windows has: names kept for devices in every folder, sharing
// modes between programs, both separators, and UTF-16 names.
#include <windows.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "platform/beneath.h"
#include "platform/dirs.h"
#include "platform/files.h"
#include "platform/process.h"
#include "temp_dir.h"

using testing_support::read_whole_file;
using testing_support::TempDir;

namespace {

std::wstring wide(const std::string& s) {
    int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), out.data(), n);
    return out;
}

// Holds a file the way another program may: not shared at all.
struct ExclusiveHolder {
    explicit ExclusiveHolder(const std::string& path)
        : h(CreateFileW(wide(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                        FILE_ATTRIBUTE_NORMAL, nullptr)) {}
    ~ExclusiveHolder() {
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    }
    HANDLE h;
};

TEST(WindowsNames, DeviceNamesAreRefusedBeforeAnyOpen) {
    TempDir dir;
    std::string file = dir.write("A.TXT", "data");
    for (const char* name :
         {"COM1", "com7.txt", "NUL", "nul.dat", "CON", "AUX", "PRN", "LPT1", "CONOUT$"}) {
        SCOPED_TRACE(name);
        std::string path = dir.file(name);
        int error = 0;
        std::FILE* f = platform::open_regular_file(path, platform::FileAccess::write, error);
        EXPECT_EQ(f, nullptr);
        if (f != nullptr) std::fclose(f);
        EXPECT_EQ(error, platform::not_regular_error());
        EXPECT_FALSE(platform::is_regular_file(path));
        EXPECT_EQ(platform::readable_file_size(path), -1);
        EXPECT_NE(platform::append_file(path, "x"), 0);
        EXPECT_EQ(platform::replaceable_target(path), platform::not_regular_error());
        EXPECT_EQ(platform::copy_file_locked(file, path, false, 1, 1, 100),
                  platform::kCopyDestinationFailed);
        EXPECT_EQ(platform::copy_file_locked(path, file, false, 1, 1, 100),
                  platform::kCopySourceFailed);
        std::string real;
        EXPECT_NE(platform::resolve_real_path(path, real), 0);
    }
    // "COM10" and "CONFIG" are ordinary names.
    EXPECT_EQ(platform::write_file_atomic(dir.file("COM10"), "x"), 0);
    EXPECT_EQ(platform::write_file_atomic(dir.file("CONFIG"), "y"), 0);
    EXPECT_EQ(read_whole_file(dir.file("CONFIG")), "y");
}

TEST(WindowsNames, BothSeparatorsAndUtf8Names) {
    TempDir dir;
    std::string base;
    ASSERT_EQ(platform::resolve_real_path(dir.path(), base), 0);
    std::string name =
        "Gr\xC3\xBC\xC3\x9F"
        "e.txt";  // five letters, two of them outside ASCII
    ASSERT_EQ(platform::write_file_atomic(dir.path() + "\\" + name, "hi"), 0);
    std::vector<platform::DirEntry> entries;
    ASSERT_EQ(platform::list_folder(dir.path() + "\\", entries), 0);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].name, name);
    EXPECT_EQ(entries[0].size, 2);
    std::string real;
    ASSERT_EQ(platform::resolve_real_path(dir.path() + "/x\\..\\" + name, real), ENOENT);
    ASSERT_EQ(platform::resolve_real_path(dir.path() + "/.\\" + name, real), 0);
    EXPECT_EQ(real, base + "\\" + name);
    EXPECT_EQ(real.find('/'), std::string::npos);
}

TEST(WindowsSharing, AHeldTemporaryFileCannotBeDeletedByAnyone) {
    TempDir dir;
    platform::TempFile t;
    ASSERT_EQ(platform::create_temp_file(dir.file("X.TXT"), t), 0);
    EXPECT_FALSE(DeleteFileW(wide(t.path).c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_EQ(platform::remove_stale_temp_files(dir.path()), 0);
    platform::discard_temp_file(t);
    std::vector<platform::DirEntry> entries;
    ASSERT_EQ(platform::list_folder(dir.path(), entries), 0);
    EXPECT_TRUE(entries.empty());
}

TEST(WindowsSharing, CopyWaitsForAnExclusivelyHeldDestinationThenGivesUp) {
    TempDir dir;
    std::string source = dir.write("A.TXT", "new");
    std::string dest = dir.write("B.TXT", "old");
    {
        ExclusiveHolder holder(dest);
        ASSERT_NE(holder.h, INVALID_HANDLE_VALUE);
        EXPECT_EQ(platform::copy_file_locked(source, dest, false, 3, 1, 100),
                  platform::kCopyDestinationBusy);
        EXPECT_EQ(platform::copy_file_locked(source, dest, true, 3, 1, 100),
                  platform::kCopyDestinationBusy);
        // A source held exclusively cannot be read.
        EXPECT_EQ(platform::copy_file_locked(dest, dir.file("C.TXT"), false, 1, 1, 100),
                  platform::kCopySourceFailed);
    }
    EXPECT_EQ(read_whole_file(dest), "old");
    EXPECT_EQ(platform::copy_file_locked(source, dest, true, 3, 1, 100), platform::kCopyOk);
    EXPECT_EQ(read_whole_file(dest), "oldnew");
}

}  // namespace

namespace {

// Names opened beneath a held folder: the final path of what was opened is
// checked by handle, and a held folder cannot be renamed away.
TEST(WindowsBeneath, OpensStayInTheHeldFolderAndItStaysPut) {
    TempDir dir;
    dir.write("outside.txt", "secret");
    ASSERT_EQ(platform::make_directory(dir.file("root")), 0);
    ASSERT_EQ(platform::make_directory(dir.file("root\\sub")), 0);
    dir.write("root\\sub\\in.txt", "inside");
    platform::HeldFolder root, sub;
    ASSERT_EQ(platform::folder_hold(dir.file("root"), root), 0);
    platform::FileHandle h = platform::kNoFile;
    EXPECT_EQ(
        platform::file_open_beneath(root, "sub\\in.txt", platform::FileAccess::read, false, h), 0);
    platform::file_close(h);
    for (const char* rel :
         {"..\\outside.txt", "sub\\..\\..\\outside.txt", "C:\\outside.txt", "\\outside.txt"}) {
        EXPECT_EQ(platform::file_open_beneath(root, rel, platform::FileAccess::read, false, h),
                  EXDEV)
            << rel;
    }
    ASSERT_EQ(platform::folder_hold_beneath(root, "sub", sub), 0);
    EXPECT_FALSE(MoveFileW(wide(dir.file("root\\sub")).c_str(), wide(dir.file("moved")).c_str()));
    platform::TempFile t;
    ASSERT_EQ(platform::create_temp_file_in(sub, "new.txt", t), 0);
    EXPECT_EQ(platform::commit_temp_file_in(sub, t, "new.txt"), 0);
    EXPECT_TRUE(platform::path_exists(dir.file("root\\sub\\new.txt")));
    platform::folder_release(sub);
    platform::folder_release(root);
}

// A program is started from the held file: while held it cannot be
// replaced or renamed, so the final path started is the file checked.
TEST(WindowsBeneath, AProgramStartsFromItsHeldFile) {
    TempDir dir;
    std::string self = platform::executable_path();
    std::string child = self.substr(0, self.find_last_of("/\\") + 1) + "platform_test_child.exe";
    ASSERT_EQ(platform::make_directory(dir.file("root")), 0);
    ASSERT_TRUE(CopyFileW(wide(child).c_str(), wide(dir.file("root\\prog.exe")).c_str(), FALSE));
    platform::HeldFolder root;
    ASSERT_EQ(platform::folder_hold(dir.file("root"), root), 0);
    platform::FileHandle h = platform::kNoFile;
    ASSERT_EQ(platform::program_open_beneath(root, "prog.exe", h), 0);
    EXPECT_FALSE(MoveFileW(wide(dir.file("root\\prog.exe")).c_str(),
                           wide(dir.file("root\\old.exe")).c_str()));
    EXPECT_FALSE(DeleteFileW(wide(dir.file("root\\prog.exe")).c_str()));
    platform::Process p;
    ASSERT_EQ(platform::process_start_held(h, "prog", {"child", "exit", "5"}, p), 0);
    platform::file_close(h);
    int code = -1;
    EXPECT_EQ(platform::process_wait(p, 60000, code), platform::kProcessEnded);
    EXPECT_EQ(code, 5);
    EXPECT_EQ(platform::program_open_beneath(root, "..\\prog.exe", h), EXDEV);
    platform::folder_release(root);
}

}  // namespace
