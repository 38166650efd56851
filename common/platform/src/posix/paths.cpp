#include "platform/paths.h"

namespace platform {

bool is_absolute_path(const std::string& path) {
    return !path.empty() && path[0] == '/';
}

bool is_dir_separator(char c) {
    return c == '/';
}

}  // namespace platform
