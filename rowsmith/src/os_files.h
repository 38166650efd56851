// The few operating-system calls of rowsmith, behind one small header so that
// another OS needs only its own os_files.cpp.
//
// Functions returning int give 0 on success or the OS error number.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace rowsmith::os {

using Handle = std::intptr_t;
inline constexpr Handle kNoHandle = -1;

// Opens an existing file for reading while others may read it too. Fails
// (without waiting) when another program holds the file for writing, and
// when it is not a regular file (a pipe is never waited on).
int open_shared_read(const std::string& path, Handle& out);

// Opens a file for writing, creating it when missing, and holds it so that
// no other program can hold it at the same time. When someone else holds it,
// fails with busy set, so that the caller may try again later. Only a
// regular file or a character device is taken; the open never waits.
int open_exclusive(const std::string& path, Handle& out, bool& busy);

// Reads up to size bytes; got is 0 at the end of the file.
int read_some(Handle h, char* data, size_t size, size_t& got);

// Writes all bytes at the current position; written tells how many made it.
int write_all(Handle h, const char* data, size_t size, size_t& written);

// Moves to the end of the file and tells its length.
int seek_end(Handle h, int64_t& length);

// Cuts the file back to length bytes (and positions there).
int truncate_to(Handle h, int64_t length);

// Flushes the file's data to the disk.
int flush_to_disk(Handle h);

// Flushes the folder entry of a file (after creating or removing it).
int flush_folder_of(const std::string& path);

int close_file(Handle& h);

// Removes the data file that h has open, but only while path still names
// that very file (another program may have put a new one in its place).
// When tail_from is less than the file's length, the bytes from tail_from
// to the end are kept: path is replaced crash-safely by a file holding only
// them. Closes h in every case. A file already gone counts as removed.
int remove_source(const std::string& path, Handle& h, int64_t tail_from, int64_t length);

// Length of a file, or 0 when missing or unreadable.
int64_t file_length(const std::string& path);

// The folder of the running program with a trailing separator; the current
// folder (with a separator) when the program's own path is unknown.
std::string program_directory();

bool is_absolute_path(const std::string& path);

void sleep_ms(int ms);

}  // namespace rowsmith::os
