// Helpers shared by the Windows implementation of the platform layer (not a
// public header: only src/win32 includes it).
#pragma once

#include <string>

namespace platform::win32 {

// UTF-8 <-> UTF-16 for the wide (W) API. Invalid sequences become U+FFFD.
std::wstring widen(const std::string& utf8);
std::string narrow(const std::wstring& utf16);

// The errno value (<cerrno>) that stands for a Windows system error code
// (GetLastError) or a Winsock error (WSAGetLastError), so that callers on
// every OS compare with ENOENT, EACCES, EISDIR ... Codes without an errno
// counterpart give EIO.
int errno_from_win32(unsigned long code);

// errno_from_win32(GetLastError()), also stored in errno so that
// platform::last_error() reports it.
int last_win32_errno();

// True when the program runs under wine, which differs from Windows in a
// few documented ways (sharing of COM ports, MAXDWORD time-outs).
bool running_under_wine();

}  // namespace platform::win32
