#include "xm_file.h"

#include <cerrno>

namespace ql {

XmFile::~XmFile() {
    discard();
}

bool XmFile::open(const std::string& target) {
    target_ = target;
    if (platform::path_exists(target)) {
        // The target will be replaced, not written, but a file this process
        // could not write must refuse the transfer just as writing it in
        // place would; and a pipe or a device must not hold the line.
        int error = 0;
        std::FILE* probe =
            platform::open_regular_file(target, platform::FileAccess::read_write, error);
        if (probe == nullptr) {
            error_ = error;
            return false;
        }
        std::fclose(probe);
    }
    error_ = platform::create_temp_file(target, temp_);
    return error_ == 0;
}

bool XmFile::open_in(const platform::HeldFolder& dir, const std::string& leaf) {
    target_ = leaf;
    dir_ = &dir;
    platform::remove_stale_temp_files_in(dir);
    // As open(): an existing file must be one this process could write.
    platform::FileHandle probe = platform::kNoFile;
    int error =
        platform::file_open_beneath(dir, leaf, platform::FileAccess::read_write, true, probe);
    platform::file_close(probe);
    if (error != 0 && error != ENOENT && error != ELOOP) {
        error_ = error;
        return false;
    }
    error_ = platform::create_temp_file_in(dir, leaf, temp_);
    return error_ == 0;
}

bool XmFile::write(const void* data, size_t count) {
    if (temp_.file == nullptr) return false;
    if (count == 0) return true;
    if (std::fwrite(data, 1, count, temp_.file) != count) {
        error_ = errno;
        return false;
    }
    return true;
}

bool XmFile::commit() {
    if (temp_.file == nullptr) return false;
    error_ = dir_ != nullptr ? platform::commit_temp_file_in(*dir_, temp_, target_)
                             : platform::commit_temp_file(temp_, target_);
    return error_ == 0;
}

void XmFile::discard() {
    platform::discard_temp_file(temp_);
}

}  // namespace ql
