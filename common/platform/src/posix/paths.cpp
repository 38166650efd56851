#include "platform/paths.h"

namespace platform {

bool is_absolute_path(const std::string& path) {
    return !path.empty() && path[0] == '/';
}

}  // namespace platform
