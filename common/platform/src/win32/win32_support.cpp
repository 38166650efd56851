// Windows helpers of the platform layer: text conversion and error mapping.
#include "win32_support.h"

// winsock2.h has to come before windows.h.
#include <windows.h>
#include <winsock2.h>

#include <cctype>
#include <cerrno>

namespace platform::win32 {

std::wstring widen(const std::string& utf8) {
    if (utf8.empty()) return {};
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
    return out;
}

std::string narrow(const std::wstring& utf16) {
    if (utf16.empty()) return {};
    int n = WideCharToMultiByte(CP_UTF8, 0, utf16.data(), static_cast<int>(utf16.size()), nullptr,
                                0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, utf16.data(), static_cast<int>(utf16.size()), out.data(), n,
                        nullptr, nullptr);
    return out;
}

std::string final_path(std::intptr_t handle) {
    wchar_t buf[32768];
    DWORD n = GetFinalPathNameByHandleW(reinterpret_cast<HANDLE>(handle), buf, 32768,
                                        FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (n == 0 || n >= 32768) return {};
    std::string p = narrow(std::wstring(buf, n));
    if (p.rfind("\\\\?\\UNC\\", 0) == 0) return "\\\\" + p.substr(8);
    if (p.rfind("\\\\?\\", 0) == 0) return p.substr(4);
    return p;
}

int errno_from_win32(unsigned long code) {
    switch (code) {
        case ERROR_SUCCESS:
            return 0;
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_DRIVE:
        case ERROR_BAD_NETPATH:
        case ERROR_BAD_NET_NAME:
        case ERROR_NO_MORE_FILES:
        case ERROR_MOD_NOT_FOUND:
            return ENOENT;
        case ERROR_ACCESS_DENIED:
        case ERROR_CURRENT_DIRECTORY:
        case ERROR_WRITE_PROTECT:
            return EACCES;
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
        case ERROR_BUSY:
            return EBUSY;
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS:
            return EEXIST;
        case ERROR_DIRECTORY:
            return ENOTDIR;
        case ERROR_DIR_NOT_EMPTY:
            return ENOTEMPTY;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return ENOSPC;
        case ERROR_FILENAME_EXCED_RANGE:
            return ENAMETOOLONG;
        case ERROR_INVALID_NAME:
        case ERROR_INVALID_PARAMETER:
        case ERROR_BAD_PATHNAME:
            return EINVAL;
        case ERROR_INVALID_HANDLE:
        case WSAENOTSOCK:
            return EBADF;
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY:
            return ENOMEM;
        case ERROR_TOO_MANY_OPEN_FILES:
            return EMFILE;
        case ERROR_NOT_SAME_DEVICE:
            return EXDEV;
        case ERROR_BROKEN_PIPE:
        case ERROR_NO_DATA:
            return EPIPE;
        case ERROR_BAD_EXE_FORMAT:
        case ERROR_EXE_MARKED_INVALID:
            return ENOEXEC;
        case ERROR_CANT_RESOLVE_FILENAME:
        case 681:  // ERROR_STOPPED_ON_SYMLINK, missing from older headers
            return ELOOP;
        case ERROR_PRIVILEGE_NOT_HELD:
            return EPERM;
        case ERROR_NOT_SUPPORTED:
            return ENOTSUP;
        case ERROR_CALL_NOT_IMPLEMENTED:
            return ENOSYS;
        case ERROR_PIPE_BUSY:
            return EBUSY;
        case ERROR_DELETE_PENDING:
            return ENOENT;
        case ERROR_NEGATIVE_SEEK:
            return EINVAL;
        case ERROR_OPERATION_ABORTED:
        case WSAEINTR:
            return EINTR;
        case WAIT_TIMEOUT:
        case ERROR_TIMEOUT:
        case ERROR_SEM_TIMEOUT:
        case WSAETIMEDOUT:
            return ETIMEDOUT;
        case WSAEWOULDBLOCK:
            return EWOULDBLOCK;
        case WSAEINPROGRESS:
            return EINPROGRESS;
        case WSAECONNREFUSED:
            return ECONNREFUSED;
        case WSAECONNRESET:
            return ECONNRESET;
        case WSAECONNABORTED:
            return ECONNABORTED;
        case WSAENOTCONN:
            return ENOTCONN;
        case WSAEADDRINUSE:
            return EADDRINUSE;
        case WSAEADDRNOTAVAIL:
            return EADDRNOTAVAIL;
        case WSAENETUNREACH:
            return ENETUNREACH;
        case WSAEHOSTUNREACH:
            return EHOSTUNREACH;
        case WSAEINVAL:
            return EINVAL;
        case WSAEMSGSIZE:
            return EMSGSIZE;
        case WSAENOBUFS:
            return ENOBUFS;
        case WSAESHUTDOWN:
            return EPIPE;
        case WSAEISCONN:
            return EISCONN;
        case WSAEALREADY:
            return EALREADY;
        case WSAENETDOWN:
        case WSANOTINITIALISED:
            return ENETDOWN;
        case WSAENETRESET:
            return ENETRESET;
        case WSAEAFNOSUPPORT:
            return EAFNOSUPPORT;
        case WSAEACCES:
            return EACCES;
        case WSAEMFILE:
            return EMFILE;
        case WSAEBADF:
            return EBADF;
        case WSAEOPNOTSUPP:
            return EOPNOTSUPP;
        case WSAEHOSTDOWN:
        case WSAHOST_NOT_FOUND:
            return EHOSTUNREACH;
        default:
            return EIO;
    }
}

int last_win32_errno() {
    int e = errno_from_win32(GetLastError());
    errno = e;
    return e;
}

bool is_separator(char c) {
    return c == '\\' || c == '/';
}

std::string::size_type last_separator(const std::string& path) {
    return path.find_last_of("\\/");
}

std::string join_path(const std::string& dir, const std::string& name) {
    if (dir.empty()) return name;
    return is_separator(dir.back()) ? dir + name : dir + "\\" + name;
}

bool is_device_name(const std::string& path) {
    auto sep = path.find_last_of("\\/:");
    std::string leaf = sep == std::string::npos ? path : path.substr(sep + 1);
    // "NUL.TXT" and "NUL " name the device too: only the part before the
    // first dot counts, trailing blanks dropped.
    leaf = leaf.substr(0, leaf.find('.'));
    while (!leaf.empty() && leaf.back() == ' ') leaf.pop_back();
    for (char& c : leaf) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (leaf == "CON" || leaf == "PRN" || leaf == "AUX" || leaf == "NUL" || leaf == "CONIN$" ||
        leaf == "CONOUT$") {
        return true;
    }
    return leaf.size() == 4 && (leaf.compare(0, 3, "COM") == 0 || leaf.compare(0, 3, "LPT") == 0) &&
           leaf[3] >= '1' && leaf[3] <= '9';
}

int64_t unix_seconds(uint64_t filetime) {
    constexpr uint64_t kTicksPerSecond = 10000000u;
    constexpr int64_t kEpochDifference = 11644473600;  // 1601-01-01 to 1970-01-01
    return static_cast<int64_t>(filetime / kTicksPerSecond) - kEpochDifference;
}

namespace {

uint64_t join64(DWORD high, DWORD low) {
    return (static_cast<uint64_t>(high) << 32) | low;
}

// Facts from an open handle: the target of any link on the way.
int facts_of_target(const std::wstring& wide, PathFacts& out) {
    HANDLE h = CreateFileW(wide.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return last_win32_errno();
    BY_HANDLE_FILE_INFORMATION info;
    int err = 0;
    if (!GetFileInformationByHandle(h, &info)) {
        err = last_win32_errno();
    } else {
        out.directory = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        out.device = !out.directory && GetFileType(h) != FILE_TYPE_DISK;
        out.size = out.directory || out.device
                       ? 0
                       : static_cast<int64_t>(join64(info.nFileSizeHigh, info.nFileSizeLow));
        out.modified = unix_seconds(
            join64(info.ftLastWriteTime.dwHighDateTime, info.ftLastWriteTime.dwLowDateTime));
    }
    CloseHandle(h);
    return err;
}

}  // namespace

int path_facts(const std::string& path, bool follow_links, PathFacts& out) {
    out = PathFacts{};
    if (path.empty()) {
        errno = ENOENT;
        return ENOENT;
    }
    if (is_device_name(path)) {
        out.device = true;
        return 0;
    }
    std::wstring wide = widen(path);
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, &data)) {
        return last_win32_errno();
    }
    if ((data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        if (follow_links) return facts_of_target(wide, out);
        out.link = true;
    }
    out.directory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    out.size =
        out.directory ? 0 : static_cast<int64_t>(join64(data.nFileSizeHigh, data.nFileSizeLow));
    out.modified = unix_seconds(
        join64(data.ftLastWriteTime.dwHighDateTime, data.ftLastWriteTime.dwLowDateTime));
    return 0;
}

bool running_under_wine() {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

}  // namespace platform::win32
