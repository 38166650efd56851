#include "platform/process_info.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>

namespace platform {

int current_process_id() {
    return static_cast<int>(::getpid());
}

bool process_exists(int pid) {
    if (pid <= 0) return false;
    // Signal 0 checks without sending; EPERM means it exists under another user.
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

std::string line_folders_root() {
    return "/var/lib/quaylink";
}

bool stdout_shows_sequences() {
    return ::isatty(STDOUT_FILENO) == 1;
}

}  // namespace platform
