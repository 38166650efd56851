// Pieces of the Windows file sources shared between them (not a public
// header): the checked open of a regular file and the copy from an open
// source, which beneath.cpp uses with a held folder.
#pragma once

#include <windows.h>

#include <string>

#include "platform/beneath.h"
#include "platform/files.h"

namespace platform::win32 {

// Opens a regular file for the given access. Nothing but a regular file is
// kept: a device name is refused before any open, a pipe or a device after
// it. Emptying happens only after that check. Shared for reading, writing
// and deleting. INVALID_HANDLE_VALUE and error set on failure.
HANDLE open_regular_handle(const std::string& path, FileAccess access, int& error);

// copy_file_locked from the open source in (read from its position) into
// destination. in stays open.
int copy_from_handle(HANDLE in, const std::string& destination, bool append, const CopyLimits& how,
                     size_t chunk_bytes);

}  // namespace platform::win32
