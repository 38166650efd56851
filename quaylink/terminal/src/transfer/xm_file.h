// The file a block transfer receives into.
//
// The data goes to a temporary file beside the target; commit() renames it
// over the target once the whole file has arrived, so that a failed or
// broken-off receive never destroys the file that was there before (a data
// file not yet converted, say) and leaves no partial file behind.
#pragma once

#include <cstddef>
#include <cstdio>
#include <filesystem>
#include <string>

namespace ql {

class XmFile {
  public:
    XmFile() = default;
    ~XmFile();  // discards what was not committed
    XmFile(const XmFile&) = delete;
    XmFile& operator=(const XmFile&) = delete;

    // Checks that target can be written (an existing file must be writable,
    // and must not be a folder) and creates the temporary file. false with
    // error() set on failure.
    bool open(const std::string& target);

    // Appends count bytes; false on a short write.
    bool write(const void* data, size_t count);

    // Flushes the data to disk and renames the temporary file over the
    // target. A target that existed keeps its permission bits; a new one
    // gets read and write permission (less the umask). false with error()
    // set on failure (the temporary file is then removed).
    bool commit();

    // Closes and removes the temporary file; the target is untouched.
    void discard();

    // Error number of the last failure.
    int error() const { return error_; }

    // The temporary file's path (empty when none is open).
    const std::string& temp_path() const { return temp_; }

  private:
    std::FILE* file_ = nullptr;
    std::string target_;
    std::string temp_;
    bool keep_permissions_ = false;
    std::filesystem::perms permissions_{};
    int error_ = 0;
};

}  // namespace ql
