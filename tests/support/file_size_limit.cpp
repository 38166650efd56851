#include "file_size_limit.h"

#include <sys/resource.h>

#include <csignal>

namespace testing_support {

FileSizeLimit::FileSizeLimit(uint64_t bytes) {
    struct rlimit old_limit;
    if (::getrlimit(RLIMIT_FSIZE, &old_limit) != 0) return;
    old_soft_ = old_limit.rlim_cur;
    old_hard_ = old_limit.rlim_max;
    old_handler_ = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old_limit;
    small.rlim_cur = static_cast<rlim_t>(bytes);
    if (::setrlimit(RLIMIT_FSIZE, &small) != 0) {
        std::signal(SIGXFSZ, old_handler_);
        return;
    }
    active_ = true;
}

FileSizeLimit::~FileSizeLimit() {
    if (!active_) return;
    struct rlimit old_limit;
    old_limit.rlim_cur = static_cast<rlim_t>(old_soft_);
    old_limit.rlim_max = static_cast<rlim_t>(old_hard_);
    ::setrlimit(RLIMIT_FSIZE, &old_limit);
    std::signal(SIGXFSZ, old_handler_);
}

}  // namespace testing_support
