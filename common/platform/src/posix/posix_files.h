// Pieces of the POSIX file sources shared between them (not a public
// header): the descriptor-relative forms of the temporary-file calls, which
// beneath.cpp uses with a held folder and files.cpp with the current one.
#pragma once

#include <string>
#include <vector>

#include "platform/beneath.h"
#include "platform/dirs.h"
#include "platform/files.h"

namespace platform {

// 0 when fd (opened with O_NONBLOCK) is a regular file, which is then made
// blocking and, when asked, emptied; else EISDIR, not_regular_error() or
// the error of the check. fd stays open either way.
int accept_regular_fd(int fd, bool empty_it);

// fd, the result of an open with O_NONBLOCK, when it is a regular file (as
// accept_regular_fd); else -1 with error set, fd closed. A negative fd
// gives errno back.
int keep_regular_fd(int fd, bool empty_it, int& error);

// create_temp_file, commit_temp_file and remove_stale_temp_files with the
// names taken relative to the folder descriptor dir (AT_FDCWD: as paths).
// The temporary file remembers dir for commit and discard.
int create_temp_file_at(int dir, const std::string& target, TempFile& out);
int commit_temp_file_at(TempFile& t, const std::string& target, unsigned mode);
int remove_stale_temp_files_at(int dir);

// copy_file_locked from the open source in (read from its position) into
// destination relative to the folder descriptor dir. in stays open.
int copy_from_fd(int in, int dir, const std::string& destination, bool append,
                 const CopyLimits& how, size_t chunk_bytes);

// The entry name of the folder descriptor dir, described as list_folder does.
DirEntry describe_at(int dir, const char* name);

// Sorts entries as list_folder does.
void sort_entries(std::vector<DirEntry>& out);

// Lists the folder open at fd (taken over and closed; a negative fd gives
// errno back), sorted as list_folder sorts. Returns 0 or the error number.
int list_open_folder(int fd, std::vector<DirEntry>& out);

}  // namespace platform
