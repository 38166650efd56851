// POSIX implementation of platform/event.h on an eventfd: the counter is 1
// while the event is set and 0 otherwise, so poll() sees it as readable
// exactly while it is set. A mutex keeps set and reset from interleaving
// their flag and counter updates.
#include <errno.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <ctime>
#include <mutex>

#include "event_posix.h"

namespace platform {

struct Event::Impl {
    int fd = -1;
    std::atomic<bool> flag{false};
    std::mutex mutex;
};

namespace {

uint64_t now_ms() {
    timespec ts;
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

// Without an eventfd, waits look at the flag this often.
constexpr int kFallbackSliceMs = 10;

}  // namespace

Event::Event() : impl_(std::make_unique<Impl>()) {
    impl_->fd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

Event::~Event() {
    if (impl_->fd >= 0) ::close(impl_->fd);
}

void Event::set() {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    if (impl_->flag.exchange(true)) return;
    if (impl_->fd >= 0) {
        uint64_t one = 1;
        ssize_t rc;
        do {
            rc = ::write(impl_->fd, &one, sizeof one);
        } while (rc < 0 && errno == EINTR);
    }
}

void Event::reset() {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    if (!impl_->flag.exchange(false)) return;
    if (impl_->fd >= 0) {
        uint64_t value = 0;
        ssize_t rc;
        do {
            rc = ::read(impl_->fd, &value, sizeof value);
        } while (rc < 0 && errno == EINTR);
    }
}

bool Event::is_set() const {
    return impl_->flag.load();
}

bool Event::wait(uint32_t timeout_ms) const {
    const uint64_t deadline = now_ms() + timeout_ms;
    for (;;) {
        if (is_set()) return true;
        uint64_t now = now_ms();
        if (now >= deadline) return false;
        int left = static_cast<int>(std::min<uint64_t>(deadline - now, 1000000));
        if (impl_->fd < 0) {
            timespec ts{0, static_cast<long>(std::min(left, kFallbackSliceMs)) * 1000000L};
            ::nanosleep(&ts, nullptr);
            continue;
        }
        pollfd p{impl_->fd, POLLIN, 0};
        ::poll(&p, 1, left);  // EINTR or a wake-up: look at the flag again
    }
}

int event_fd(const Event& event) {
    return event.impl().fd;
}

}  // namespace platform
