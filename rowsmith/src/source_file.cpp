// Taking the converted lines out of the data file, built on the platform's
// file handles and its one kind of temporary file.
#include "source_file.h"

#include <algorithm>
#include <cerrno>
#include <vector>

#include "platform/files.h"

namespace rowsmith {

namespace {

// Appends bytes [offset, end) of the file open on from to the stream.
int copy_range(platform::FileHandle from, std::FILE* to, int64_t offset, int64_t end) {
    std::vector<char> buffer(64 * 1024);
    while (offset < end) {
        size_t want = static_cast<size_t>(std::min<int64_t>(end - offset, buffer.size()));
        size_t got = 0;
        int error = platform::file_read_at(from, offset, buffer.data(), want, got);
        if (error != 0) return error;
        if (got == 0) return EIO;  // the file shrank under us
        if (std::fwrite(buffer.data(), 1, got, to) != got) return errno != 0 ? errno : EIO;
        offset += static_cast<int64_t>(got);
    }
    return 0;
}

// Replaces path by a new file holding bytes [from, end) of the file open on
// h, crash-safely, unless path no longer names that file by then.
int replace_with_tail(const std::string& path, platform::FileHandle& h, int64_t from, int64_t end) {
    platform::TempFile temp;
    int error = platform::create_temp_file(path, temp);
    if (error != 0) return error;
    platform::file_copy_owner(h, temp.file);
    error = copy_range(h, temp.file, from, end);
    bool same = false;
    if (error == 0) error = platform::file_is_named_by(h, path, same);
    if (error != 0 || !same) {
        platform::discard_temp_file(temp);
        return error;
    }
    // The data file's permission bits go over with the name.
    return platform::commit_temp_file_over_held(temp, path, h);
}

}  // namespace

int remove_source(const std::string& path, platform::FileHandle& h, int64_t tail_from,
                  int64_t length) {
    int error = 0;
    bool same = false;
    if (tail_from < length) {
        error = replace_with_tail(path, h, tail_from, length);
    } else if ((error = platform::file_is_named_by(h, path, same)) == 0 && same) {
        error = platform::remove_file(path);
        if (error == ENOENT) error = 0;
    }
    if (error == 0) platform::flush_folder_of(path);
    platform::file_close(h);
    return error;
}

}  // namespace rowsmith
