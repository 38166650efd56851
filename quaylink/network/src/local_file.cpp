// The local files of network transfers, opened by the dispatcher or here.
#include "network/local_file.h"

#include <cerrno>

namespace ql {

namespace {

// A name in the held folder may be replaced when it is missing, a regular
// file or a link (the rename replaces the link itself).
int replaceable_in(const platform::HeldFolder& dir, const std::string& leaf) {
    platform::FileHandle probe = platform::kNoFile;
    int rc = platform::file_open_beneath(dir, leaf, platform::FileAccess::read, true, probe);
    platform::file_close(probe);
    return rc == ENOENT || rc == ELOOP ? 0 : rc;
}

bool holds_folder(const LocalFile* held) {
    return held != nullptr && held->folder.handle != platform::kNoFile;
}

}  // namespace

int local_upload_open(const std::string& local, LocalFile* held, std::FILE*& out, int64_t& size) {
    out = nullptr;
    size = 0;
    platform::FileHandle h = platform::kNoFile;
    int rc = 0;
    if (held == nullptr) {
        rc = platform::file_open_regular(local, platform::FileAccess::read, h);
    } else if (held->source != platform::kNoFile) {
        h = held->source;
        held->source = platform::kNoFile;
    } else {
        rc = held->error != 0 ? held->error : ENOENT;
    }
    if (rc == 0) rc = platform::file_length(h, size);
    if (rc == 0) out = platform::stream_from_handle(h, platform::FileAccess::read, rc);
    platform::file_close(h);  // already kNoFile when the stream took it
    return rc;
}

int local_download_begin(const std::string& local, const LocalFile* held, platform::TempFile& out) {
    if (held != nullptr && !holds_folder(held)) return held->error != 0 ? held->error : ENOENT;
    if (held == nullptr) {
        int rc = platform::replaceable_target(local);
        return rc != 0 ? rc : platform::create_temp_file(local, out);
    }
    // A crash during an earlier download here left its temporary file.
    platform::remove_stale_temp_files_in(held->folder);
    int rc = replaceable_in(held->folder, held->leaf);
    return rc != 0 ? rc : platform::create_temp_file_in(held->folder, held->leaf, out);
}

int local_download_commit(const std::string& local, const LocalFile* held,
                          platform::TempFile& temp) {
    if (holds_folder(held)) return platform::commit_temp_file_in(held->folder, temp, held->leaf);
    return platform::commit_temp_file(temp, local);
}

}  // namespace ql
