// Folder searches and locked file copies, OS-neutral.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/clock.h"

namespace platform {

// One entry of a folder. Symbolic links are followed for the kind, size and
// time; a link whose target is missing is reported as a file of 0 bytes
// with the link's own time.
struct DirEntry {
    std::string name;  // the name within the folder, no path
    bool is_directory = false;
    int64_t size = 0;      // bytes; 0 for folders
    int64_t modified = 0;  // last write, seconds since 1970-01-01 UTC
};

// Lists every entry of the folder except "." and "..", sorted by name with
// letter case ignored (ties in exact byte order), so listings come out in
// the same order every time. Returns 0 or the error number; out holds
// whatever was read.
int list_folder(const std::string& dir, std::vector<DirEntry>& out);

// The name of an entry of dir that equals name when ASCII letter case is
// ignored: name itself when it exists as it stands, else the first such
// entry in list_folder order; empty when there is none or dir cannot be
// read. (Windows finds every spelling of a name by itself: there the folder
// is searched, so the stored spelling comes back.)
std::string find_name_ignoring_case(const std::string& dir, const std::string& name);

// The absolute form of path with every symbolic link resolved, for
// deciding where a name really leads. A relative path is taken from the
// current directory. The part of the path that exists is resolved entry by
// entry ("." and ".." included, after any link before them); the missing
// rest is appended as written. Does not block beyond the file system's own
// lookups. Returns 0 and sets out, or an error number (out is then empty):
// a link that leads nowhere (dangling, or a loop), ".." within the missing
// rest, a part that is not a folder, or a lookup that fails for any other
// reason than a missing entry (no permission, for example).
// Windows: relative, drive-relative ("\name", "C:name"), drive ("C:\...")
// and network ("\\server\share\...") paths are taken; the result uses
// backslashes, an upper-case drive letter, and each existing entry's name
// as stored (letter case, long names for short ones), so two names of one
// file give one result. A name kept for a device (see files.h) or a path in
// the device space ("\\.\...") leads to no folder at all: refused with
// not_regular_error().
int resolve_real_path(const std::string& path, std::string& out);

// Length of a regular file that this process may open for reading; -1 when
// it is missing, unreadable or not a regular file.
int64_t readable_file_size(const std::string& path);

// Results of copy_file_locked.
inline constexpr int kCopyOk = 0;
inline constexpr int kCopySourceFailed = -1;       // cannot open or read the source
inline constexpr int kCopyDestinationFailed = -2;  // cannot open or write it; or it is the source
inline constexpr int kCopyDestinationBusy = -3;    // still held by another process
inline constexpr int kCopyShortWrite = -4;         // a write took fewer bytes than given

// Copies source to destination (append false) or appends it (append true),
// in chunks of chunk_bytes. Sharing: the source is opened for reading with a
// shared lock (a source another process holds exclusively cannot be
// opened); the destination is opened with an exclusive lock, and while
// another process holds it the open is tried again, tries times in all,
// retry_ms apart. A copy writes a temporary file beside the destination and
// renames it into place only when complete (in place when the folder does
// not allow a new file), so a failed copy leaves the old content; a failed
// append is cut back to the old length. A copy replaces a symbolic link at
// the destination instead of writing through it. Neither open waits: a
// source or destination that is not a regular file (a pipe, a device, a
// folder) is refused (kCopySourceFailed / kCopyDestinationFailed). Source
// and destination naming the same file are refused before anything is
// opened for writing.
// Windows: the locks are the system's sharing modes, which every Windows
// program keeps to: the source is opened shared for reading only (so a
// file another program has open for writing cannot be copied either), the
// destination not shared at all; "held by another process" is a sharing
// violation. The destination is let go just before the finished copy is
// renamed over it, since Windows cannot rename over an open file.
int copy_file_locked(const std::string& source, const std::string& destination, bool append,
                     int tries, uint32_t retry_ms, size_t chunk_bytes);

// Broken-down local time of a time in seconds since 1970-01-01 UTC.
LocalTime local_time_of(int64_t seconds);

}  // namespace platform
