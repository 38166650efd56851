// Windows file handles: HANDLEs from CreateFileW, held through the sharing
// mode of the open (the holder shares nothing, readers share reading).
#include "platform/file_handle.h"

#include <windows.h>

#include <cerrno>
#include <climits>

#include "platform/files.h"
#include "win32_support.h"

namespace platform {

namespace {

HANDLE handle_of(FileHandle h) {
    return reinterpret_cast<HANDLE>(h);
}

// One ReadFile/WriteFile moves at most this much (their count is 32-bit).
constexpr size_t kMaxChunk = 1u << 30;

DWORD chunk_of(size_t size) {
    return static_cast<DWORD>(size < kMaxChunk ? size : kMaxChunk);
}

// The error of a failed CreateFileW. A folder cannot be opened as a file
// (access denied): tell it apart so callers see EISDIR.
int open_error(const std::wstring& wide) {
    DWORD code = GetLastError();
    if (code == ERROR_ACCESS_DENIED) {
        DWORD attributes = GetFileAttributesW(wide.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
            return EISDIR;
    }
    return win32::errno_from_win32(code);
}

// Only files on a disk are taken, and character devices where allowed: a
// pipe would hold the program for good.
int check_kind(HANDLE h, bool device_allowed) {
    DWORD type = GetFileType(h);
    if (type == FILE_TYPE_DISK) {
        BY_HANDLE_FILE_INFORMATION info;
        if (!GetFileInformationByHandle(h, &info)) return win32::last_win32_errno();
        return (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? EISDIR : 0;
    }
    if (type == FILE_TYPE_CHAR && device_allowed) return 0;
    return EINVAL;
}

int open_with(const std::string& path, DWORD access, DWORD share, DWORD disposition,
              bool device_allowed, FileHandle& out, bool* busy) {
    out = kNoFile;
    std::wstring wide = win32::widen(path);
    HANDLE h = CreateFileW(wide.c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        DWORD code = GetLastError();
        if (code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION) {
            if (busy != nullptr) *busy = true;
            return EWOULDBLOCK;
        }
        SetLastError(code);
        return open_error(wide);
    }
    int error = check_kind(h, device_allowed);
    if (error != 0) {
        CloseHandle(h);
        return error;
    }
    out = reinterpret_cast<FileHandle>(h);
    return 0;
}

OVERLAPPED at_offset(int64_t offset) {
    OVERLAPPED where{};
    where.Offset = static_cast<DWORD>(static_cast<uint64_t>(offset) & 0xffffffffu);
    where.OffsetHigh = static_cast<DWORD>(static_cast<uint64_t>(offset) >> 32);
    return where;
}

}  // namespace

int file_open_shared_read(const std::string& path, FileHandle& out) {
    // Delete sharing lets this reader replace or remove the file by name.
    return open_with(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, OPEN_EXISTING, false,
                     out, nullptr);
}

int file_open_exclusive(const std::string& path, const ExclusiveOpen& how, FileHandle& out,
                        bool& busy) {
    busy = false;
    DWORD access = GENERIC_WRITE | (how.read ? GENERIC_READ : 0);
    win32::PathFacts facts;
    if (how.no_link && win32::path_facts(path, false, facts) == 0 && facts.link) return ELOOP;
    return open_with(path, access, 0, OPEN_ALWAYS, how.device_allowed, out, &busy);
}

int file_close(FileHandle& h) {
    if (h == kNoFile) return 0;
    int error = CloseHandle(handle_of(h)) ? 0 : win32::last_win32_errno();
    h = kNoFile;
    return error;
}

int file_read_some(FileHandle h, char* data, size_t size, size_t& got) {
    got = 0;
    DWORD n = 0;
    if (!ReadFile(handle_of(h), data, chunk_of(size), &n, nullptr)) {
        // The far end of a device closing is an end, not a failure.
        if (GetLastError() == ERROR_BROKEN_PIPE || GetLastError() == ERROR_HANDLE_EOF) return 0;
        return win32::last_win32_errno();
    }
    got = n;
    return 0;
}

int file_write_all(FileHandle h, const char* data, size_t size, size_t& written) {
    written = 0;
    while (written < size) {
        DWORD n = 0;
        if (!WriteFile(handle_of(h), data + written, chunk_of(size - written), &n, nullptr))
            return win32::last_win32_errno();
        if (n == 0) return ENOSPC;
        written += n;
    }
    return 0;
}

int file_read_at(FileHandle h, int64_t offset, char* data, size_t size, size_t& got) {
    got = 0;
    while (got < size) {
        OVERLAPPED where = at_offset(offset + static_cast<int64_t>(got));
        DWORD n = 0;
        if (!ReadFile(handle_of(h), data + got, chunk_of(size - got), &n, &where)) {
            if (GetLastError() == ERROR_HANDLE_EOF) break;
            return win32::last_win32_errno();
        }
        if (n == 0) break;
        got += n;
    }
    return 0;
}

int file_write_at(FileHandle h, int64_t offset, const char* data, size_t size, size_t& written) {
    written = 0;
    while (written < size) {
        OVERLAPPED where = at_offset(offset + static_cast<int64_t>(written));
        DWORD n = 0;
        if (!WriteFile(handle_of(h), data + written, chunk_of(size - written), &n, &where))
            return win32::last_win32_errno();
        if (n == 0) return ENOSPC;
        written += n;
    }
    return 0;
}

int file_seek_end(FileHandle h, int64_t& length) {
    LARGE_INTEGER zero{}, at{};
    if (!SetFilePointerEx(handle_of(h), zero, &at, FILE_END)) return win32::last_win32_errno();
    length = at.QuadPart;
    return 0;
}

int file_truncate(FileHandle h, int64_t length) {
    LARGE_INTEGER to{};
    to.QuadPart = length;
    if (!SetFilePointerEx(handle_of(h), to, nullptr, FILE_BEGIN)) return win32::last_win32_errno();
    if (!SetEndOfFile(handle_of(h))) return win32::last_win32_errno();
    return 0;
}

int file_flush(FileHandle h) {
    if (GetFileType(handle_of(h)) != FILE_TYPE_DISK) return 0;  // NUL and devices
    return FlushFileBuffers(handle_of(h)) ? 0 : win32::last_win32_errno();
}

int flush_folder_of(const std::string& path) {
    (void)path;  // nothing to flush: see the header
    return 0;
}

int commit_temp_file_over_held(TempFile& temp, const std::string& path, FileHandle& h) {
    file_close(h);  // an open file cannot be replaced here
    return commit_temp_file(temp, path);
}

int file_is_named_by(FileHandle h, const std::string& path, bool& same) {
    same = false;
    BY_HANDLE_FILE_INFORMATION by_handle, by_path;
    if (!GetFileInformationByHandle(handle_of(h), &by_handle)) return win32::last_win32_errno();
    // Attribute access only: no sharing mode of another holder refuses it.
    std::wstring wide = win32::widen(path);
    HANDLE other = CreateFileW(wide.c_str(), FILE_READ_ATTRIBUTES,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (other == INVALID_HANDLE_VALUE) {
        int error = win32::last_win32_errno();
        return error == ENOENT ? 0 : error;
    }
    BOOL ok = GetFileInformationByHandle(other, &by_path);
    int error = ok ? 0 : win32::last_win32_errno();
    CloseHandle(other);
    if (error != 0) return error;
    same = by_path.dwVolumeSerialNumber == by_handle.dwVolumeSerialNumber &&
           by_path.nFileIndexHigh == by_handle.nFileIndexHigh &&
           by_path.nFileIndexLow == by_handle.nFileIndexLow;
    return 0;
}

void file_copy_owner(FileHandle h, std::FILE* stream) {
    (void)h;  // a new file's owner and access come from its folder
    (void)stream;
}

}  // namespace platform
