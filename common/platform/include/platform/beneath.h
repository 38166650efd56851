// Names opened beneath a folder that is held open, OS-neutral.
//
// A name that must stay inside a folder tree is resolved and opened in one
// step, and the handle opened there is the one every later read, write,
// rename or listing goes through: a file or a folder another process swaps
// for a link after the check cannot move the operation out of the tree.
//
// POSIX (Linux): openat2() with RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS from
// the held folder; where the kernel lacks openat2 (before 5.6, or a filter
// that refuses it), a walk component by component with O_NOFOLLOW (and
// O_DIRECTORY for the folders on the way) from the held folder's
// descriptor, so that any symbolic link met on the way is refused.
// Windows: the name is opened under the held folder's path and the final
// path of the opened handle (reparse points resolved) must lie in the held
// folder's final path; a folder is held without delete sharing, so neither
// it nor a folder above it can be renamed away while it is held.
//
// Error contract as files.h: 0 or an errno value; EXDEV when the name leads
// out of the held folder (or meets a link where links are refused), ELOOP
// for a link at the last component where none may be followed.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/dirs.h"
#include "platform/file_handle.h"
#include "platform/files.h"

namespace platform {

// A folder held open; its path is the one it was opened by (POSIX) or its
// final path (Windows), for messages and for the path-based calls of the
// Windows side.
struct HeldFolder {
    FileHandle handle = kNoFile;
    std::string path;
};

// Holds the folder at path (a setting, not a terminal's name: links
// followed). Returns 0 or the error number.
int folder_hold(const std::string& path, HeldFolder& out);

// Holds the folder rel (relative, '/' or the native separator between
// components; empty: root itself) beneath root, never leaving it.
int folder_hold_beneath(const HeldFolder& root, const std::string& rel, HeldFolder& out);

// Closes a held folder (an empty one is fine).
void folder_release(HeldFolder& f);

// Opens the file rel beneath root, never leaving it, without waiting (as
// open_regular_file): only a regular file is taken (EISDIR for a folder,
// not_regular_error() for anything else); write creates a missing file
// and empties it only after that check. No link is followed at the last
// component when no_final_link is set (ELOOP). out is a plain handle of
// file_handle.h; no lock is taken.
int file_open_beneath(const HeldFolder& root, const std::string& rel, FileAccess access,
                      bool no_final_link, FileHandle& out);

// Opens the program file rel beneath root for process_start_held or
// run_command_line_held, never leaving it: as file_open_beneath for reading
// (a link at the last component is followed only while it stays inside).
// Windows: the handle shares neither writing nor deleting, so while it is
// held the file can be neither changed, replaced nor renamed, and its final
// path (checked to lie in root) keeps naming it.
int program_open_beneath(const HeldFolder& root, const std::string& rel, FileHandle& out);

// The same open by path, links followed, nothing confined (for names that
// may lead anywhere).
int file_open_regular(const std::string& path, FileAccess access, FileHandle& out);

// Number of names (hard links) of the open file, and its length.
int file_link_count(FileHandle h, int64_t& links);
int file_length(FileHandle h, int64_t& length);

// Turns a handle of file_open_beneath into a stream opened as access says
// (binary); the stream owns it from then on and h is set to kNoFile. null
// with error set on failure (h is then still open).
std::FILE* stream_from_handle(FileHandle& h, FileAccess access, int& error);

// Takes a shared, non-waiting hold on an open file (POSIX: flock LOCK_SH;
// Windows: nothing more, the sharing of the open decides). EWOULDBLOCK when
// another holder has it exclusively.
int file_hold_shared(FileHandle h);

// As create_temp_file, commit_temp_file and remove_stale_temp_files, for
// the target name leaf (no separator) of the held folder dir. The
// temporary file is made in dir itself and renamed within it, whatever has
// become of dir's path since it was held. dir must stay held until the
// temporary file is committed or discarded.
int create_temp_file_in(const HeldFolder& dir, const std::string& leaf, TempFile& out);
int commit_temp_file_in(const HeldFolder& dir, TempFile& t, const std::string& leaf,
                        unsigned mode = 0666);
int remove_stale_temp_files_in(const HeldFolder& dir);

// Removes the name leaf of the held folder (a file, or a link itself: the
// link is not followed). 0 or the error number (ENOENT when missing).
int remove_in(const HeldFolder& dir, const std::string& leaf);

// Lists the held folder as list_folder does.
int list_held_folder(const HeldFolder& dir, std::vector<DirEntry>& out);

// The waiting of copy_into_held for a destination another process holds,
// and whether a destination with more than one name (hard link) is refused.
struct CopyLimits {
    int tries = 1;
    uint32_t retry_ms = 0;
    bool single_link = false;
};

// As copy_file_locked, from an open source (read from its current position,
// which the caller has held shared) into the name leaf of the held folder
// dir: a copy goes through a temporary file made in dir, an append opens
// leaf in dir without following a link there (refused, as a hard-linked
// file is when how.single_link is set: kCopyDestinationFailed).
int copy_into_held(FileHandle source, const HeldFolder& dir, const std::string& leaf, bool append,
                   const CopyLimits& how, size_t chunk_bytes);

// Tests only: walk component by component even where openat2 exists, so
// that the fall-back is exercised on every kernel. No effect on Windows.
void beneath_force_walk(bool on);

}  // namespace platform
