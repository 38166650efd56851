// Helpers shared by the Windows implementation of the platform layer (not a
// public header: only src/win32 includes it).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

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

// Separators: both '\\' and '/' separate folders in what the layer parses.
bool is_separator(char c);
// Position of the last separator in path, or npos.
std::string::size_type last_separator(const std::string& path);
// dir and name joined with one '\\' (name alone when dir is empty).
std::string join_path(const std::string& dir, const std::string& name);

// True when the last part of path is one of the names Windows keeps for
// devices in every folder (CON, PRN, AUX, NUL, COM1-9, LPT1-9, CONIN$,
// CONOUT$), with or without an extension: "C:\\data\\COM1.TXT" is a serial
// port, not a file. Such names are refused before anything is opened.
bool is_device_name(const std::string& path);

// Seconds since 1970-01-01 UTC of a FILETIME given as one 64-bit count of
// 100 ns intervals since 1601.
int64_t unix_seconds(uint64_t filetime);

// What a path names, links followed (or not). Returns 0 and fills out, or
// the errno value (ENOENT when missing or when a followed link dangles).
struct PathFacts {
    bool directory = false;
    bool device = false;   // a device, a pipe: anything neither file nor folder
    bool link = false;     // a reparse point (seen only when not following)
    int64_t size = 0;      // bytes; 0 for folders and devices
    int64_t modified = 0;  // last write, seconds since 1970-01-01 UTC
};
int path_facts(const std::string& path, bool follow_links, PathFacts& out);

// The final path of an open handle (links and reparse points resolved,
// "\\?\" taken off), or empty when it cannot be read. The handle is a
// HANDLE given as an integer, so that this header needs no windows.h.
std::string final_path(std::intptr_t handle);

// True when the program runs under wine, which differs from Windows in a
// few documented ways (sharing of COM ports, MAXDWORD time-outs).
bool running_under_wine();

// The command line CreateProcess and the service manager take: the program
// name (quotes left out, quoted when it holds blanks) and the arguments
// quoted so that the C runtime splits them back as they are.
std::string windows_command_line(const std::vector<std::string>& args);

// Termination requests from the service manager (signals.cpp). Once
// service mode is on, the console's log-off and shutdown events are ignored
// (a service outlives every log-off and hears of a shutdown from the
// service manager). raise_termination_request calls the handler of
// on_termination_request like Ctrl+C does; the request then stands, so a
// handler set later is called at once.
void set_service_mode();
void raise_termination_request();

}  // namespace platform::win32
