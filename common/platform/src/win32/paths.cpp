#include "platform/paths.h"

namespace platform {

namespace {

bool is_drive_letter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

}  // namespace

bool is_dir_separator(char c) {
    return c == '\\' || c == '/';
}

bool is_absolute_path(const std::string& path) {
    if (path.empty()) return false;
    if (is_dir_separator(path[0])) return true;
    return path.size() >= 2 && is_drive_letter(path[0]) && path[1] == ':';
}

}  // namespace platform
