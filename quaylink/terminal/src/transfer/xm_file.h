// The file a block transfer receives into.
//
// The data goes to a temporary file beside the target; commit() renames it
// over the target once the whole file has arrived, so that a failed or
// broken-off receive never destroys the file that was there before (a data
// file not yet converted, say) and leaves no partial file behind.
#pragma once

#include <cstddef>
#include <string>

#include "platform/beneath.h"
#include "platform/files.h"

namespace ql {

class XmFile {
  public:
    XmFile() = default;
    ~XmFile();  // discards what was not committed
    XmFile(const XmFile&) = delete;
    XmFile& operator=(const XmFile&) = delete;

    // Checks that target can be written (an existing file must be a regular
    // file this process may write; a folder, a pipe or a device is refused
    // without waiting) and creates the temporary file (platform
    // create_temp_file). false with error() set on failure.
    bool open(const std::string& target);

    // The same for the name leaf of the held folder dir, which must stay
    // held until commit or discard; the stale temporary files of dir (those
    // a crash left, no process holds) are removed first. A link at leaf is
    // replaced, never followed.
    bool open_in(const platform::HeldFolder& dir, const std::string& leaf);

    // Appends count bytes; false on a short write.
    bool write(const void* data, size_t count);

    // Flushes the data to disk and renames the temporary file over the
    // target (a link there is replaced, not followed). A target that existed
    // keeps its permission bits; a new one gets read and write permission
    // (less the umask). false with error() set on failure (the temporary
    // file is then removed).
    bool commit();

    // Closes and removes the temporary file; the target is untouched.
    void discard();

    // Error number of the last failure.
    int error() const { return error_; }

    // The temporary file's path (empty when none is open).
    const std::string& temp_path() const { return temp_.path; }

  private:
    platform::TempFile temp_;
    std::string target_;
    const platform::HeldFolder* dir_ = nullptr;  // set by open_in
    int error_ = 0;
};

}  // namespace ql
