// Windows implementation of platform/dirs.h. Sharing between processes is
// the system's own: the source of a copy is opened shared for reading only,
// the destination not shared at all, so a program that holds either (or
// another copy in progress) makes the open fail with a sharing violation.
#include "platform/dirs.h"

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cerrno>

#include "platform/files.h"
#include "win32_files.h"
#include "win32_support.h"

namespace platform {

using win32::join_path;
using win32::last_win32_errno;
using win32::widen;

namespace {

int ascii_casecmp(const std::string& a, const std::string& b) {
    size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        int x = std::tolower(static_cast<unsigned char>(a[i]));
        int y = std::tolower(static_cast<unsigned char>(b[i]));
        if (x != y) return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

bool name_before(const DirEntry& a, const DirEntry& b) {
    int c = ascii_casecmp(a.name, b.name);
    return c != 0 ? c < 0 : a.name < b.name;
}

uint64_t join64(DWORD high, DWORD low) {
    return (static_cast<uint64_t>(high) << 32) | low;
}

DirEntry describe(const std::string& dir, const WIN32_FIND_DATAW& data) {
    DirEntry e;
    e.name = win32::narrow(data.cFileName);
    e.is_directory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    e.size =
        e.is_directory ? 0 : static_cast<int64_t>(join64(data.nFileSizeHigh, data.nFileSizeLow));
    e.modified = win32::unix_seconds(
        join64(data.ftLastWriteTime.dwHighDateTime, data.ftLastWriteTime.dwLowDateTime));
    if ((data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        win32::PathFacts facts;
        if (win32::path_facts(join_path(dir, e.name), true, facts) == 0) {
            e.is_directory = facts.directory;
            e.size = facts.size;
            e.modified = facts.modified;
        } else {
            e.is_directory = false;  // a dangling link: a file of 0 bytes
            e.size = 0;
        }
    }
    return e;
}

// Calls take(data) for every entry of dir but "." and "..". 0 or the error.
template <typename Take>
int for_each_entry(const std::string& dir, Take take) {
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(widen(join_path(dir.empty() ? "." : dir, "*")).c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) {
        DWORD code = GetLastError();
        if (code == ERROR_FILE_NOT_FOUND) return 0;  // a drive's empty root has no "."
        if (code == ERROR_DIRECTORY) return ENOTDIR;
        return last_win32_errno();
    }
    int err = 0;
    do {
        std::wstring_view n = data.cFileName;
        if (n != L"." && n != L"..") take(data);
    } while (FindNextFileW(find, &data));
    if (GetLastError() != ERROR_NO_MORE_FILES) err = last_win32_errno();
    FindClose(find);
    return err;
}

}  // namespace

int list_folder(const std::string& dir, std::vector<DirEntry>& out) {
    out.clear();
    int err =
        for_each_entry(dir, [&](const WIN32_FIND_DATAW& d) { out.push_back(describe(dir, d)); });
    std::sort(out.begin(), out.end(), name_before);
    return err;
}

std::string find_name_ignoring_case(const std::string& dir, const std::string& name) {
    // Windows finds any spelling of a name by itself; the scan gives the
    // name as it is stored, so paths and listings show the real spelling.
    bool exact = false;
    std::vector<std::string> matches;
    int err = for_each_entry(dir, [&](const WIN32_FIND_DATAW& d) {
        std::string entry = win32::narrow(d.cFileName);
        if (entry == name) exact = true;
        if (ascii_casecmp(entry, name) == 0) matches.push_back(entry);
    });
    if (exact) return name;
    if (err != 0 || matches.empty()) return {};
    return *std::min_element(matches.begin(), matches.end());
}

// --- Real paths ----------------------------------------------------------------

namespace {

bool is_drive(const std::string& p) {
    return p.size() >= 2 && std::isalpha(static_cast<unsigned char>(p[0])) && p[1] == ':';
}

// The next part of p at pos (up to a separator); pos moves past it.
std::string next_part(const std::string& p, size_t& pos) {
    size_t end = pos;
    while (end < p.size() && !win32::is_separator(p[end])) ++end;
    std::string part = p.substr(pos, end - pos);
    pos = end < p.size() ? end + 1 : end;
    return part;
}

// The drive folder of an absolute path in its own form, with "\\?\" and
// "\\?\UNC\" taken off.
std::string without_long_prefix(const std::wstring& final_path) {
    std::string p = win32::narrow(final_path);
    if (p.rfind("\\\\?\\UNC\\", 0) == 0) return "\\\\" + p.substr(8);
    if (p.rfind("\\\\?\\", 0) == 0) return p.substr(4);
    return p;
}

// Splits an absolute or relative path into its root ("C:\" or
// "\\server\share\") and the rest. 0 or the error number.
int split_root(const std::string& path, std::string& root, std::string& rest, int depth = 0) {
    const std::string& p = path;
    if (depth > 2) return EINVAL;
    if (p.size() >= 2 && win32::is_separator(p[0]) && win32::is_separator(p[1])) {
        if (p.size() >= 4 && (p[2] == '?' || p[2] == '.') && win32::is_separator(p[3])) {
            // "\\?\C:\..." is an ordinary path; "\\.\" names devices.
            if (p[2] == '.') return not_regular_error();
            std::string inner = p.substr(4);
            if (inner.size() >= 4 && ascii_casecmp(inner.substr(0, 3), "UNC") == 0 &&
                win32::is_separator(inner[3])) {
                inner = "\\\\" + inner.substr(4);
            }
            return split_root(inner, root, rest, depth + 1);
        }
        size_t pos = 2;
        std::string server = next_part(p, pos);
        std::string share = next_part(p, pos);
        if (server.empty() || share.empty()) return EINVAL;
        root = "\\\\" + server + "\\" + share + "\\";
        rest = p.substr(pos);
        return 0;
    }
    if (is_drive(p) && p.size() >= 3 && win32::is_separator(p[2])) {
        root = std::string(1, static_cast<char>(std::toupper(static_cast<unsigned char>(p[0])))) +
               ":\\";
        rest = p.substr(3);
        return 0;
    }
    std::string base;
    if (is_drive(p)) {
        // "C:name": the current folder of that drive.
        std::wstring drive = widen(p.substr(0, 2));
        wchar_t buf[MAX_PATH * 2];
        DWORD n = GetFullPathNameW(drive.c_str(), MAX_PATH * 2, buf, nullptr);
        if (n == 0 || n >= MAX_PATH * 2) return last_win32_errno();
        return split_root(join_path(win32::narrow(std::wstring(buf, n)), p.substr(2)), root, rest,
                          depth + 1);
    }
    base = current_directory();
    if (base.empty()) return errno != 0 ? errno : ENOENT;
    if (!p.empty() && win32::is_separator(p[0])) {
        // "\name": the root of the current drive.
        std::string ignored;
        int err = split_root(base, root, ignored, depth + 1);
        rest = p.substr(1);
        return err;
    }
    return split_root(join_path(base, p), root, rest, depth + 1);
}

// The real name of an existing entry (links followed, letter case and short
// names as stored). 0, or the error: ELOOP for a link that leads nowhere.
int real_entry(const std::string& path, std::string& real, bool& directory) {
    HANDLE h =
        CreateFileW(widen(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        int err = last_win32_errno();
        return err == ENOENT ? ELOOP : err;
    }
    int err = 0;
    BY_HANDLE_FILE_INFORMATION info;
    std::wstring buf(32768, L'\0');
    DWORD n = GetFinalPathNameByHandleW(h, buf.data(), static_cast<DWORD>(buf.size()),
                                        FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (n == 0 || n >= buf.size()) {
        err = n == 0 ? last_win32_errno() : ENAMETOOLONG;
    } else if (!GetFileInformationByHandle(h, &info)) {
        err = last_win32_errno();
    } else {
        buf.resize(n);
        real = without_long_prefix(buf);
        directory = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    }
    CloseHandle(h);
    return err;
}

// cur without its last part, never above root.
std::string parent_within(const std::string& cur, const std::string& root) {
    if (cur.size() <= root.size()) return root;
    std::string p = cur;
    while (p.size() > root.size() && win32::is_separator(p.back())) p.pop_back();
    auto sep = win32::last_separator(p);
    if (sep == std::string::npos || sep + 1 < root.size()) return root;
    p.resize(sep + 1 > root.size() ? sep : root.size());
    return p;
}

}  // namespace

int resolve_real_path(const std::string& path, std::string& out) {
    out.clear();
    std::string root, rest;
    int err = split_root(path, root, rest);
    if (err != 0) return err;
    std::string cur = root;
    bool missing = false;  // an entry was not found: the rest is taken as written
    size_t pos = 0;
    while (pos < rest.size()) {
        std::string part = next_part(rest, pos);
        bool more = pos < rest.size();
        if (part.empty() || part == ".") continue;
        if (part == "..") {
            // Where a missing folder's parent is cannot be known for sure.
            if (missing) return ENOENT;
            cur = parent_within(cur, root);
            continue;
        }
        // A device name leads to the device, not into the folder.
        if (win32::is_device_name(part)) return not_regular_error();
        std::string next = join_path(cur, part);
        if (missing) {
            cur = next;
            continue;
        }
        if (GetFileAttributesW(widen(next).c_str()) == INVALID_FILE_ATTRIBUTES) {
            int e = last_win32_errno();
            if (e != ENOENT) return e;
            missing = true;
            cur = next;
            continue;
        }
        bool directory = false;
        std::string real;
        err = real_entry(next, real, directory);
        if (err != 0) return err;
        if (more && !directory) return ENOTDIR;
        // A link may lead to another drive or share: ".." stops at its root.
        std::string ignored;
        if (split_root(real, root, ignored) != 0) return EINVAL;
        cur = real;
    }
    out = cur;
    return 0;
}

// --- Locked copies -------------------------------------------------------------

namespace {

bool write_all(HANDLE h, const char* data, size_t n) {
    while (n > 0) {
        DWORD chunk = static_cast<DWORD>(std::min<size_t>(n, 1u << 30));
        DWORD written = 0;
        if (!WriteFile(h, data, chunk, &written, nullptr) || written == 0) return false;
        data += written;
        n -= written;
    }
    return true;
}

// Copies the rest of in to out. kCopyOk, kCopySourceFailed or kCopyShortWrite.
int copy_stream(HANDLE in, HANDLE out, size_t chunk_bytes) {
    std::vector<char> buf(std::clamp<size_t>(chunk_bytes, 1, 1u << 30));
    for (;;) {
        DWORD n = 0;
        if (!ReadFile(in, buf.data(), static_cast<DWORD>(buf.size()), &n, nullptr)) {
            return kCopySourceFailed;
        }
        if (n == 0) return kCopyOk;
        if (!write_all(out, buf.data(), n)) return kCopyShortWrite;
    }
}

bool regular_handle(HANDLE h, BY_HANDLE_FILE_INFORMATION& info) {
    return GetFileType(h) == FILE_TYPE_DISK && GetFileInformationByHandle(h, &info) &&
           (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// Opens the destination not shared, trying again while another process
// holds it. Only a regular file (or a new one) is taken. A copy does not
// follow a link at the destination: the link itself is replaced, so there
// is nothing to hold (h stays invalid). kCopyOk, or the failure.
int open_locked(const std::string& path, bool append, const CopyLimits& how, HANDLE& h) {
    const int tries = how.tries;
    const uint32_t retry_ms = how.retry_ms;
    h = INVALID_HANDLE_VALUE;
    if (win32::is_device_name(path)) return kCopyDestinationFailed;
    std::wstring wide = widen(path);
    DWORD flags = FILE_ATTRIBUTE_NORMAL | (append ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
    int result = kCopyDestinationFailed;
    for (int i = 0; i < tries; ++i) {
        if (i > 0) sleep_ms(retry_ms);
        h = CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, flags,
                        nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            DWORD code = GetLastError();
            if (code != ERROR_SHARING_VIOLATION && code != ERROR_LOCK_VIOLATION) {
                return kCopyDestinationFailed;
            }
            result = kCopyDestinationBusy;
            continue;
        }
        BY_HANDLE_FILE_INFORMATION info;
        if (GetFileType(h) == FILE_TYPE_DISK && GetFileInformationByHandle(h, &info) &&
            (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 && !append) {
            CloseHandle(h);  // a link: replaced by the rename, never written through
            h = INVALID_HANDLE_VALUE;
            return kCopyOk;
        }
        if (!regular_handle(h, info) || (how.single_link && info.nNumberOfLinks > 1)) {
            CloseHandle(h);
            h = INVALID_HANDLE_VALUE;
            return kCopyDestinationFailed;
        }
        return kCopyOk;
    }
    return result;
}

int append_into(HANDLE in, HANDLE out, size_t chunk_bytes) {
    LARGE_INTEGER zero{}, start{};
    if (!SetFilePointerEx(out, zero, &start, FILE_END)) return kCopyDestinationFailed;
    int rc = copy_stream(in, out, chunk_bytes);
    if (rc != kCopyOk) {
        // Best effort: the failure is reported whether or not the cut works.
        if (SetFilePointerEx(out, start, nullptr, FILE_BEGIN)) SetEndOfFile(out);
    }
    return rc;
}

// A copy into a temporary file beside the destination, renamed over it when
// complete; in place when no temporary file can be made there (then out
// must be the open destination). The destination is let go just before the
// rename, which Windows refuses over an open file.
int replace_content(HANDLE in, HANDLE& out, const std::string& destination, size_t chunk_bytes) {
    TempFile tmp;
    if (create_temp_file(destination, tmp) != 0) {
        if (out == INVALID_HANDLE_VALUE || !SetEndOfFile(out)) return kCopyDestinationFailed;
        return copy_stream(in, out, chunk_bytes);
    }
    int rc = copy_stream(in, reinterpret_cast<HANDLE>(tmp.held), chunk_bytes);
    if (rc != kCopyOk) {
        discard_temp_file(tmp);
        return rc;
    }
    if (out != INVALID_HANDLE_VALUE) {
        CloseHandle(out);
        out = INVALID_HANDLE_VALUE;
    }
    if (commit_temp_file(tmp, destination) != 0) return kCopyShortWrite;
    return kCopyOk;
}

// True when path names the file described by info (same volume and index).
bool same_file(const BY_HANDLE_FILE_INFORMATION& info, const std::string& path) {
    HANDLE h =
        CreateFileW(widen(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION other;
    bool same = GetFileInformationByHandle(h, &other) &&
                other.dwVolumeSerialNumber == info.dwVolumeSerialNumber &&
                other.nFileIndexHigh == info.nFileIndexHigh &&
                other.nFileIndexLow == info.nFileIndexLow;
    CloseHandle(h);
    return same;
}

}  // namespace

int64_t readable_file_size(const std::string& path) {
    if (win32::is_device_name(path)) return -1;
    HANDLE h = CreateFileW(widen(path).c_str(), GENERIC_READ,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return -1;
    BY_HANDLE_FILE_INFORMATION info;
    int64_t size = -1;
    if (regular_handle(h, info)) {
        size = static_cast<int64_t>(join64(info.nFileSizeHigh, info.nFileSizeLow));
    }
    CloseHandle(h);
    return size;
}

int copy_file_locked(const std::string& source, const std::string& destination, bool append,
                     int tries, uint32_t retry_ms, size_t chunk_bytes) {
    if (win32::is_device_name(source)) return kCopySourceFailed;
    HANDLE in = CreateFileW(widen(source).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (in == INVALID_HANDLE_VALUE) return kCopySourceFailed;
    BY_HANDLE_FILE_INFORMATION info;
    if (!regular_handle(in, info)) {
        CloseHandle(in);
        return kCopySourceFailed;
    }
    // The same file under two names: a copy would empty it, an append would
    // never reach the end.
    if (same_file(info, destination)) {
        CloseHandle(in);
        return kCopyDestinationFailed;
    }
    int rc = win32::copy_from_handle(in, destination, append, CopyLimits{tries, retry_ms, false},
                                     chunk_bytes);
    CloseHandle(in);
    return rc;
}

int win32::copy_from_handle(HANDLE in, const std::string& destination, bool append,
                            const CopyLimits& how, size_t chunk_bytes) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!regular_handle(in, info)) return kCopySourceFailed;
    if (same_file(info, destination)) return kCopyDestinationFailed;
    HANDLE out = INVALID_HANDLE_VALUE;
    int rc = open_locked(destination, append, how, out);
    if (rc == kCopyOk) {
        rc = append ? append_into(in, out, chunk_bytes)
                    : replace_content(in, out, destination, chunk_bytes);
        if (out != INVALID_HANDLE_VALUE) CloseHandle(out);
    }
    return rc;
}

LocalTime local_time_of(int64_t seconds) {
    // 100 ns ticks since 1601; the time zone's rule for that date decides
    // daylight saving, not today's.
    uint64_t ticks = static_cast<uint64_t>(seconds + 11644473600LL) * 10000000u;
    FILETIME utc{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
    SYSTEMTIME u{}, t{};
    if (!FileTimeToSystemTime(&utc, &u) || !SystemTimeToTzSpecificLocalTime(nullptr, &u, &t)) {
        t = u;
    }
    return LocalTime{t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wDayOfWeek};
}

}  // namespace platform
