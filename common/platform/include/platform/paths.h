// Path forms, OS-neutral: how a name the operator gives (a settings file on
// the command line, a folder in the settings) is told apart from a name
// relative to the program's folder. Pure text checks: nothing is looked up
// on disk, nothing blocks, nothing fails.
#pragma once

#include <string>

namespace platform {

// True when path stands on its own and must not be put after another
// folder: on POSIX when it starts with '/'; on Windows when it starts with
// a separator ('\\' or '/': the current drive's root, a UNC name, a device
// name) or with a drive letter and a colon ("C:\\x", and also the
// drive-relative "C:x", which a folder in front would only spoil).
bool is_absolute_path(const std::string& path);

// True when c ends a folder name in a path: '/' on POSIX; '\\' or '/' on
// Windows, which takes both.
bool is_dir_separator(char c);

}  // namespace platform
