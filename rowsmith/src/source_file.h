// Taking the converted lines out of the data file.
#pragma once

#include <cstdint>
#include <string>

#include "platform/file_handle.h"

namespace rowsmith {

// Removes the data file that h has open, but only while path still names
// that very file (another program may have put a new one in its place).
// When tail_from is less than length (the bytes read), the bytes from
// tail_from to length are kept: path is replaced crash-safely by a file
// holding only them. Closes h in every case. A file already gone counts as
// removed. Returns 0 or the error number.
int remove_source(const std::string& path, platform::FileHandle& h, int64_t tail_from,
                  int64_t length);

}  // namespace rowsmith
