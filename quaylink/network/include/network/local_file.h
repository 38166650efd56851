// The local file of an FTP or relay transfer, as the terminal's command
// dispatcher opened it where it checked the terminal's name: the transfer
// reads from, or writes into, what was checked, and never opens the name
// again (a file or folder swapped for a link since then is not followed).
//
// An upload takes over the open source file; a download or a listing makes
// its temporary file in the held folder and renames it to leaf there, so
// the finished file lands in the folder that was checked, whatever has
// become of that folder's path meanwhile. Without a LocalFile (nullptr) the
// transfer opens its local name by path, links followed, as callers that
// are no terminal expect. Errors follow files.h: 0 or an errno value.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/beneath.h"
#include "platform/files.h"

namespace ql {

struct LocalFile {
    // An upload's source, open for reading; the upload takes it over.
    platform::FileHandle source = platform::kNoFile;
    // A download's or listing's folder, held open, and the file's name in it.
    platform::HeldFolder folder;
    std::string leaf;
    // Why the dispatcher could open neither (an errno value): the transfer
    // fails as it would for a name it could not open itself.
    int error = 0;

    LocalFile() = default;
    LocalFile(const LocalFile&) = delete;
    LocalFile& operator=(const LocalFile&) = delete;
    ~LocalFile() { release(); }

    // Closes what the transfer did not take over.
    void release() {
        platform::file_close(source);
        platform::folder_release(folder);
        leaf.clear();
        error = 0;
    }
};

// Opens the source of an upload: the file held (taken over) or, without
// one, local by path. Returns 0 with the stream and the file's length, or
// the error number (out null).
int local_upload_open(const std::string& local, LocalFile* held, std::FILE*& out, int64_t& size);

// Creates the temporary file of a download into local (see create_temp_file
// and create_temp_file_in): in the held folder, after clearing that
// folder's stale temporary files, or beside local by path. An existing
// file of that name must be one a download may replace (a folder, a pipe
// or a device keeps its name; a link there is replaced, not followed).
// Returns 0 or the error number.
int local_download_begin(const std::string& local, const LocalFile* held, platform::TempFile& out);

// Renames the finished temporary file to local (in the held folder when
// there is one). Returns 0 or the error number (the temporary file is then
// removed).
int local_download_commit(const std::string& local, const LocalFile* held,
                          platform::TempFile& temp);

}  // namespace ql
