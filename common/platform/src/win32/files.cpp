// Windows implementation of platform/files.h on the wide file API. Names
// are UTF-8 outside and UTF-16 towards the system; both '\\' and '/'
// separate folders. Every file is opened in binary mode and its handle is
// not inherited by started programs.
#define _CRT_RAND_S  // rand_s, before <stdlib.h>
#include "platform/files.h"

#include <fcntl.h>
#include <io.h>
#include <stdlib.h>
#include <windows.h>

#include <cerrno>
#include <vector>

#include "platform/clock.h"
#include "win32_files.h"
#include "win32_support.h"

#include "platform_shared.h"

namespace platform {

using win32::last_win32_errno;
using win32::open_regular_handle;
using win32::widen;

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

int write_all(HANDLE h, std::string_view data) {
    size_t done = 0;
    while (done < data.size()) {
        DWORD chunk = static_cast<DWORD>(std::min<size_t>(data.size() - done, 1u << 20));
        DWORD written = 0;
        if (!WriteFile(h, data.data() + done, chunk, &written, nullptr)) return last_win32_errno();
        if (written == 0) return EIO;
        done += written;
    }
    return 0;
}

// EISDIR for a folder (CreateFile refuses one with "access denied"), else err.
int folder_or(const std::string& path, int err) {
    if (err != EACCES) return err;
    win32::PathFacts facts;
    return win32::path_facts(path, true, facts) == 0 && facts.directory ? EISDIR : err;
}

}  // namespace

HANDLE win32::open_regular_handle(const std::string& path, FileAccess access, int& error) {
    error = 0;
    if (win32::is_device_name(path)) {
        error = not_regular_error();
        return INVALID_HANDLE_VALUE;
    }
    DWORD rights = GENERIC_READ;
    DWORD disposition = OPEN_EXISTING;
    switch (access) {
        case FileAccess::read:
            break;
        case FileAccess::read_write:
            rights = GENERIC_READ | GENERIC_WRITE;
            break;
        case FileAccess::write:
            rights = GENERIC_WRITE;
            disposition = OPEN_ALWAYS;
            break;
        case FileAccess::append:
            // Append-only rights: every write lands at the end, whoever else
            // appends at the same time.
            rights = FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
            disposition = OPEN_ALWAYS;
            break;
    }
    HANDLE h = CreateFileW(widen(path).c_str(), rights, kShareAll, nullptr, disposition,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        error = folder_or(path, last_win32_errno());
        return h;
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileType(h) != FILE_TYPE_DISK) {
        error = not_regular_error();
    } else if (!GetFileInformationByHandle(h, &info)) {
        error = last_win32_errno();
    } else if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        error = EISDIR;
    } else if (access == FileAccess::write && !SetEndOfFile(h)) {
        error = last_win32_errno();  // the new handle is at offset 0: this empties it
    }
    if (error != 0) {
        CloseHandle(h);
        return INVALID_HANDLE_VALUE;
    }
    return h;
}

namespace {

// Wraps a handle in a C stream; the stream owns it afterwards. On failure
// the handle is closed and null returned with error set.
std::FILE* stream_of(HANDLE h, int flags, const char* mode, int& error) {
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), flags | _O_BINARY | _O_NOINHERIT);
    if (fd < 0) {
        error = errno != 0 ? errno : EMFILE;
        CloseHandle(h);
        return nullptr;
    }
    std::FILE* f = _fdopen(fd, mode);
    if (f == nullptr) {
        error = errno != 0 ? errno : ENOMEM;
        _close(fd);
    }
    return f;
}

}  // namespace

char dir_separator() {
    return '\\';
}

bool path_exists(const std::string& path) {
    win32::PathFacts facts;
    return win32::path_facts(path, true, facts) == 0;
}

bool is_directory(const std::string& path) {
    win32::PathFacts facts;
    return win32::path_facts(path, true, facts) == 0 && facts.directory;
}

bool is_regular_file(const std::string& path) {
    win32::PathFacts facts;
    return win32::path_facts(path, true, facts) == 0 && !facts.directory && !facts.device;
}

int not_regular_error() {
    return EINVAL;
}

int replaceable_target(const std::string& target) {
    win32::PathFacts facts;
    if (win32::path_facts(target, true, facts) != 0) return 0;
    if (facts.directory) return EISDIR;
    return facts.device ? not_regular_error() : 0;
}

std::FILE* open_regular_file(const std::string& path, FileAccess access, int& error) {
    HANDLE h = open_regular_handle(path, access, error);
    if (h == INVALID_HANDLE_VALUE) return nullptr;
    switch (access) {
        case FileAccess::read:
            return stream_of(h, _O_RDONLY, "rb", error);
        case FileAccess::read_write:
            return stream_of(h, _O_RDWR, "r+b", error);
        case FileAccess::write:
            return stream_of(h, _O_WRONLY, "wb", error);
        case FileAccess::append:
            return stream_of(h, _O_WRONLY | _O_APPEND, "ab", error);
    }
    CloseHandle(h);
    error = EINVAL;
    return nullptr;
}

int read_file(const std::string& path, std::string& out) {
    out.clear();
    int err = 0;
    HANDLE h = open_regular_handle(path, FileAccess::read, err);
    if (h == INVALID_HANDLE_VALUE) return err;
    char buf[65536];
    for (;;) {
        DWORD n = 0;
        if (!ReadFile(h, buf, sizeof buf, &n, nullptr)) {
            err = last_win32_errno();
            break;
        }
        if (n == 0) break;
        out.append(buf, n);
    }
    CloseHandle(h);
    return err;
}

// --- Temporary files -----------------------------------------------------------

namespace {

using shared::kTempNameTries;
// A target another program has open for a moment (a virus scanner, an
// indexer) refuses the rename; it is tried again this often, this far apart.
constexpr int kRenameTries = 5;
constexpr uint32_t kRenameRetryMs = 20;

uint64_t random_tag() {
    unsigned int high = 0, low = 0;
    if (rand_s(&high) == 0 && rand_s(&low) == 0) {
        return (static_cast<uint64_t>(high) << 32) | low;
    }
    // No random source: time, process and a counter still make names that
    // CREATE_NEW keeps apart.
    static uint64_t counter = 0;
    LARGE_INTEGER now{};
    QueryPerformanceCounter(&now);
    return static_cast<uint64_t>(now.QuadPart) ^
           (static_cast<uint64_t>(GetCurrentProcessId()) << 40) ^
           (++counter * 0x9E3779B97F4A7C15ull);
}

std::string temp_name(const std::string& target) {
    return shared::temp_file_name(target, random_tag());
}

// The file is opened without delete sharing: while this handle (or its
// duplicate) is open, nobody can delete or rename it, which is how
// remove_stale_temp_files tells a held file from one left by a crash.
// Reading and writing it by name stay possible.
HANDLE create_temp_handle(const std::string& target, std::string& path, int& err) {
    err = EEXIST;
    for (int i = 0; i < kTempNameTries; ++i) {
        path = temp_name(target);
        HANDLE h = CreateFileW(widen(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            err = 0;
            return h;
        }
        err = last_win32_errno();
        if (err != EEXIST) break;
    }
    path.clear();
    return INVALID_HANDLE_VALUE;
}

void close_temp(TempFile& t, int& err) {
    if (t.file != nullptr && std::fclose(t.file) != 0 && err == 0) err = errno;
    if (t.held != -1) CloseHandle(reinterpret_cast<HANDLE>(t.held));
    t = TempFile{};
}

// Renames over target (the target's own entry: a link there is replaced),
// waiting out a short sharing violation.
int replace_target(const std::string& from, const std::string& target) {
    std::wstring wfrom = widen(from), wto = widen(target);
    int err = 0;
    for (int i = 0; i < kRenameTries; ++i) {
        if (i > 0) sleep_ms(kRenameRetryMs);
        if (MoveFileExW(wfrom.c_str(), wto.c_str(),
                        MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            return 0;
        }
        DWORD code = GetLastError();
        err = win32::errno_from_win32(code);
        if (code != ERROR_SHARING_VIOLATION && code != ERROR_LOCK_VIOLATION) break;
    }
    return folder_or(target, err);
}

}  // namespace

int create_temp_file(const std::string& target, TempFile& out) {
    out = TempFile{};
    std::string path;
    int err = 0;
    HANDLE h = create_temp_handle(target, path, err);
    if (h == INVALID_HANDLE_VALUE) return err;
    HANDLE held = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), h, GetCurrentProcess(), &held, 0, FALSE,
                         DUPLICATE_SAME_ACCESS)) {
        err = last_win32_errno();
        CloseHandle(h);
        DeleteFileW(widen(path).c_str());
        return err;
    }
    std::FILE* f = stream_of(h, _O_RDWR, "w+b", err);
    if (f == nullptr) {
        CloseHandle(held);
        DeleteFileW(widen(path).c_str());
        return err;
    }
    out.file = f;
    out.path = path;
    out.held = reinterpret_cast<std::intptr_t>(held);
    return 0;
}

int commit_temp_file(TempFile& t, const std::string& target, unsigned /*mode*/) {
    if (t.held == -1) return EBADF;
    int err = 0;
    if (t.file != nullptr && std::fflush(t.file) != 0) err = errno;
    if (err == 0 && !FlushFileBuffers(reinterpret_cast<HANDLE>(t.held))) err = last_win32_errno();
    std::string path = t.path;
    // The rename needs the file closed: it was held without delete sharing.
    close_temp(t, err);
    if (err == 0) err = replace_target(path, target);
    if (err != 0) DeleteFileW(widen(path).c_str());
    return err;
}

void discard_temp_file(TempFile& t) {
    std::string path = t.path;
    bool ours = t.held != -1;
    int ignored = 0;
    close_temp(t, ignored);
    if (ours) DeleteFileW(widen(path).c_str());
}

namespace {

// Deletes the file unless someone holds it: the open asks for delete
// rights, which a held temporary file does not share. A link or a folder
// that took the name meanwhile is left alone.
bool remove_if_unheld(const std::string& path) {
    HANDLE h = CreateFileW(widen(path).c_str(), DELETE | FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                           OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info;
    bool removed = false;
    if (GetFileInformationByHandle(h, &info) &&
        (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0) {
        FILE_DISPOSITION_INFO gone{TRUE};
        removed = SetFileInformationByHandle(h, FileDispositionInfo, &gone, sizeof gone) != 0;
    }
    CloseHandle(h);
    return removed;
}

}  // namespace

int remove_stale_temp_files(const std::string& dir) {
    std::string folder = dir.empty() ? "." : dir;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(widen(win32::join_path(folder, "*")).c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return 0;
    std::vector<std::string> names;
    do {
        std::string name = win32::narrow(data.cFileName);
        constexpr DWORD kNotAFile = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
        if ((data.dwFileAttributes & kNotAFile) == 0 && is_temp_file_name(name)) {
            names.push_back(name);
        }
    } while (FindNextFileW(find, &data));
    FindClose(find);
    int removed = 0;
    for (const std::string& name : names) {
        if (remove_if_unheld(win32::join_path(folder, name))) ++removed;
    }
    return removed;
}

int append_file(const std::string& path, std::string_view data, bool* opened) {
    int err = 0;
    HANDLE h = open_regular_handle(path, FileAccess::append, err);
    if (opened != nullptr) *opened = h != INVALID_HANDLE_VALUE;
    if (h == INVALID_HANDLE_VALUE) return err;
    err = write_all(h, data);
    CloseHandle(h);
    return err;
}

int remove_file(const std::string& path) {
    if (DeleteFileW(widen(path).c_str())) return 0;
    return folder_or(path, last_win32_errno());
}

int make_directory(const std::string& path) {
    return CreateDirectoryW(widen(path).c_str(), nullptr) ? 0 : last_win32_errno();
}

int64_t file_size(const std::string& path) {
    win32::PathFacts facts;
    if (win32::path_facts(path, true, facts) != 0) return -1;
    if (facts.directory || facts.device) {
        errno = facts.directory ? EISDIR : not_regular_error();
        return -1;
    }
    return facts.size;
}

bool directory_writable(const std::string& dir) {
    // Access rights on Windows are lists, not bits: the one sure answer is
    // to create a file there.
    TempFile probe;
    if (create_temp_file(win32::join_path(dir.empty() ? "." : dir, "probe"), probe) != 0) {
        return false;
    }
    discard_temp_file(probe);
    return true;
}

std::string executable_path() {
    std::wstring buf(MAX_PATH, L'\0');
    for (;;) {
        DWORD n = GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
        if (n == 0) return {};
        if (n < buf.size()) {
            buf.resize(n);
            return win32::narrow(buf);
        }
        if (buf.size() >= 32768) return {};
        buf.resize(buf.size() * 2);
    }
}

std::string current_directory() {
    DWORD n = GetCurrentDirectoryW(0, nullptr);
    if (n == 0) return {};
    std::wstring buf(n, L'\0');
    n = GetCurrentDirectoryW(n, buf.data());
    if (n == 0 || n >= buf.size()) return {};
    buf.resize(n);
    return win32::narrow(buf);
}

std::string user_config_directory() {
    DWORD n = GetEnvironmentVariableW(L"APPDATA", nullptr, 0);
    if (n == 0) return {};
    std::wstring buf(n, L'\0');
    n = GetEnvironmentVariableW(L"APPDATA", buf.data(), n);
    if (n == 0 || n >= buf.size()) return {};
    buf.resize(n);
    std::string out = win32::narrow(buf);
    while (out.size() > 3 && win32::is_separator(out.back())) out.pop_back();
    return out;
}

int last_error() {
    return errno;
}

int sync_file(const std::string& path) {
    int err = 0;
    // Flushing needs write rights on the handle.
    HANDLE h = open_regular_handle(path, FileAccess::read_write, err);
    if (h == INVALID_HANDLE_VALUE) return err;
    err = FlushFileBuffers(h) ? 0 : last_win32_errno();
    CloseHandle(h);
    return err;
}

}  // namespace platform
