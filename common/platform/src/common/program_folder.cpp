// The running program's own folder, where its modules are looked for first.
#include "platform/files.h"
#include "platform/paths.h"
#include "platform_shared.h"

namespace platform {

std::string shared::folder_of_executable() {
    std::string self = executable_path();
    size_t end = self.size();
    while (end > 0 && !is_dir_separator(self[end - 1])) --end;
    return self.substr(0, end);
}

}  // namespace platform
