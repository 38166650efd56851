// Files and folders, OS-neutral.
//
// Error contract for the whole header: functions returning int give 0 on
// success and the operating system's error number (errno / GetLastError)
// on failure, never a negative value. Paths are narrow strings in the
// platform's own form; on POSIX the separator is '/'.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// The platform's directory separator ('/' on POSIX, '\\' on Windows).
char dir_separator();

// True when the path names an existing regular file or folder.
bool path_exists(const std::string& path);
bool is_directory(const std::string& path);

// Reads the whole file into out. Returns 0 or the error number.
int read_file(const std::string& path, std::string& out);

// Replaces the file's content crash-safely: writes a temporary file in the
// same folder, flushes it to disk, and renames it over the target. Either the
// old or the new content survives a crash at any point. An existing file
// keeps its permission bits; a new one gets mode (less the umask).
int write_file_atomic(const std::string& path, std::string_view data, unsigned mode = 0666);

// Appends data to the file, creating it when missing; the file is opened and
// closed within the call. Returns 0 or the error number. When opened is given
// it tells whether the file could be opened at all (a failure after that is
// a write error).
int append_file(const std::string& path, std::string_view data, bool* opened = nullptr);

// Deletes a file. Returns 0 or the error number (ENOENT when missing).
int remove_file(const std::string& path);

// Creates one folder (not its parents). Returns 0 or the error number.
int make_directory(const std::string& path);

// Size of a regular file in bytes, or -1 when it cannot be read.
int64_t file_size(const std::string& path);

// True when a new file could be created in the folder.
bool directory_writable(const std::string& dir);

// Absolute path of the running executable, or empty when it cannot be had.
std::string executable_path();

// The current directory, or empty.
std::string current_directory();

// The user's configuration folder ($XDG_CONFIG_HOME or ~/.config on POSIX),
// without a trailing separator; empty when there is none.
std::string user_config_directory();

// The error number of the last failed system call on this thread.
int last_error();

// Flushes an open file by path to disk (used before deleting a source whose
// records were copied elsewhere). Returns 0 or the error number.
int sync_file(const std::string& path);

}  // namespace platform
