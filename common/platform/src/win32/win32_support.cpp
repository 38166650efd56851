// Windows helpers of the platform layer: text conversion and error mapping.
#include "win32_support.h"

// winsock2.h has to come before windows.h.
#include <winsock2.h>
#include <windows.h>

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

int errno_from_win32(unsigned long code) {
    switch (code) {
    case ERROR_SUCCESS: return 0;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_NO_MORE_FILES:
    case ERROR_MOD_NOT_FOUND: return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_CURRENT_DIRECTORY:
    case ERROR_WRITE_PROTECT: return EACCES;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_BUSY: return EBUSY;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS: return EEXIST;
    case ERROR_DIRECTORY: return ENOTDIR;
    case ERROR_DIR_NOT_EMPTY: return ENOTEMPTY;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return ENOSPC;
    case ERROR_FILENAME_EXCED_RANGE: return ENAMETOOLONG;
    case ERROR_INVALID_NAME:
    case ERROR_INVALID_PARAMETER:
    case ERROR_BAD_PATHNAME: return EINVAL;
    case ERROR_INVALID_HANDLE:
    case WSAENOTSOCK: return EBADF;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY: return ENOMEM;
    case ERROR_TOO_MANY_OPEN_FILES: return EMFILE;
    case ERROR_NOT_SAME_DEVICE: return EXDEV;
    case ERROR_BROKEN_PIPE:
    case ERROR_NO_DATA: return EPIPE;
    case ERROR_BAD_EXE_FORMAT:
    case ERROR_EXE_MARKED_INVALID: return ENOEXEC;
    case ERROR_CANT_RESOLVE_FILENAME: return ELOOP;
    case ERROR_OPERATION_ABORTED:
    case WSAEINTR: return EINTR;
    case WAIT_TIMEOUT:
    case ERROR_TIMEOUT:
    case ERROR_SEM_TIMEOUT:
    case WSAETIMEDOUT: return ETIMEDOUT;
    case WSAEWOULDBLOCK: return EWOULDBLOCK;
    case WSAEINPROGRESS: return EINPROGRESS;
    case WSAECONNREFUSED: return ECONNREFUSED;
    case WSAECONNRESET: return ECONNRESET;
    case WSAECONNABORTED: return ECONNABORTED;
    case WSAENOTCONN: return ENOTCONN;
    case WSAEADDRINUSE: return EADDRINUSE;
    case WSAEADDRNOTAVAIL: return EADDRNOTAVAIL;
    case WSAENETUNREACH: return ENETUNREACH;
    case WSAEHOSTUNREACH: return EHOSTUNREACH;
    case WSAEINVAL: return EINVAL;
    case WSAEMSGSIZE: return EMSGSIZE;
    case WSAENOBUFS: return ENOBUFS;
    case WSAESHUTDOWN: return EPIPE;
    case WSAEISCONN: return EISCONN;
    case WSAEALREADY: return EALREADY;
    case WSAENETDOWN:
    case WSANOTINITIALISED: return ENETDOWN;
    case WSAENETRESET: return ENETRESET;
    case WSAEAFNOSUPPORT: return EAFNOSUPPORT;
    case WSAEACCES: return EACCES;
    case WSAEMFILE: return EMFILE;
    case WSAEBADF: return EBADF;
    case WSAEOPNOTSUPP: return EOPNOTSUPP;
    case WSAEHOSTDOWN:
    case WSAHOST_NOT_FOUND: return EHOSTUNREACH;
    default: return EIO;
    }
}

int last_win32_errno() {
    int e = errno_from_win32(GetLastError());
    errno = e;
    return e;
}

bool running_under_wine() {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

}  // namespace platform::win32
