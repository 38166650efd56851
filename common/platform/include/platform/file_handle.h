// Files held open through a handle, OS-neutral: the opens that decide who
// may hold a file at the same time, plain and positioned reads and writes,
// and the checks a program needs before it removes a file it has read.
//
// Error contract for the whole header: functions returning int give 0 on
// success and an errno value (<cerrno>) on failure, on every OS (the
// Windows side maps its system codes), never a negative value. No function
// here waits for another program: a file someone else holds is reported at
// once (busy), and the caller decides whether and when to try again. Reads
// and writes block only for the disk itself.
//
// Holding a file: on POSIX an advisory flock() taken without waiting (a
// shared lock for readers, an exclusive one for the holder); programs that
// do not lock are not kept out. On Windows the sharing mode of the open
// itself: the holder shares nothing, readers share reading only, so any
// program that opens the file for writing is kept out as well.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace platform {

struct TempFile;  // platform/files.h

// An open file (a descriptor on POSIX, a HANDLE on Windows).
using FileHandle = std::intptr_t;
inline constexpr FileHandle kNoFile = -1;

// Opens an existing regular file for reading while others may read it too.
// Fails at once with EWOULDBLOCK when another holder has it (POSIX: an
// exclusive lock; Windows: open for writing, or opened sharing nothing),
// with not-a-file errors for anything but a regular file (EISDIR for a
// folder, EINVAL for a pipe, device or socket: a pipe is never waited on).
// While the handle is open the file may still be renamed or removed by
// name (Windows: opened with delete sharing), so that the reader itself can
// remove or replace it afterwards.
int file_open_shared_read(const std::string& path, FileHandle& out);

// How file_open_exclusive opens a file.
struct ExclusiveOpen {
    bool read = false;            // also for reading (else writing only)
    bool device_allowed = false;  // a character device (/dev/null, NUL) is taken too
    bool no_link = false;         // a symbolic link (reparse point) at path: ELOOP, not followed
};

// Opens a file for writing (and reading, when asked), creating it when
// missing (mode 0666 less the umask on POSIX), and holds it so that no
// other holder or reader of this header can have it at the same time. When
// someone else has it, fails with EWOULDBLOCK and busy set; every other
// failure leaves busy false. Only a regular file (or a character device,
// when allowed) is taken: EISDIR for a folder, EINVAL otherwise. Never
// waits. The position is at the start; nothing is truncated.
int file_open_exclusive(const std::string& path, const ExclusiveOpen& how, FileHandle& out,
                        bool& busy);

// Closes the handle (kNoFile is fine) and sets it to kNoFile. Releases the
// hold. Returns 0 or the error of the close.
int file_close(FileHandle& h);

// Reads up to size bytes at the current position; got is 0 at the end of
// the file. Interrupted reads are resumed.
int file_read_some(FileHandle h, char* data, size_t size, size_t& got);

// Writes all bytes at the current position; written tells how many made it
// (also on failure). A write that takes nothing gives ENOSPC.
int file_write_all(FileHandle h, const char* data, size_t size, size_t& written);

// Reads up to size bytes at offset, independent of the current position;
// got is short only at the end of the file. On POSIX the current position
// is left alone; on Windows it is moved (ReadFile with an offset does so):
// do not mix positioned and plain calls on one handle without a seek.
int file_read_at(FileHandle h, int64_t offset, char* data, size_t size, size_t& got);

// Writes all bytes at offset; written tells how many made it. The current
// position as for file_read_at.
int file_write_at(FileHandle h, int64_t offset, const char* data, size_t size, size_t& written);

// Moves to the end of the file and tells its length.
int file_seek_end(FileHandle h, int64_t& length);

// Cuts the file back (or extends it with zero bytes) to length bytes and
// positions there.
int file_truncate(FileHandle h, int64_t length);

// Flushes the file's data to the disk. A device that cannot be flushed (a
// character device, NUL) counts as flushed.
int file_flush(FileHandle h);

// Flushes the folder entry of path (after creating, renaming or removing
// it). On Windows the entries are journalled by the file system and a
// rename with write-through is already on disk: nothing is done there.
int flush_folder_of(const std::string& path);

// Makes the temporary file temp (platform/files.h) the file path, which h
// holds open (a reader replacing what it read with what is left of it), and
// closes h. On POSIX the hold lasts until the new file is in place, so no
// holder gets at the old file in between. Windows cannot replace a file
// that is open: h is closed just before the rename there, and another
// program may take the old file in that moment. Returns 0, or the error of
// commit_temp_file (temp removed, path unchanged); h is closed in every
// case and temp is empty afterwards.
int commit_temp_file_over_held(TempFile& temp, const std::string& path, FileHandle& h);

// Tells whether path names the very file open on h (same device and file
// number on POSIX, same volume and file index on Windows): false, with 0
// returned, when path is missing; an error when either cannot be examined.
// Another program may have put a new file in the old one's place.
int file_is_named_by(FileHandle h, const std::string& path, bool& same);

// Gives the file behind stream the owner (user and group) of the file open
// on h, as far as this process may (POSIX: only a privileged process may
// give a file away; a refusal is ignored). Nothing is done on Windows,
// where a new file's owner and access come from its folder.
void file_copy_owner(FileHandle h, std::FILE* stream);

}  // namespace platform
