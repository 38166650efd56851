// POSIX implementation of platform/clock.h.
#include "platform/clock.h"

#include <time.h>

#include <cerrno>

namespace platform {

uint64_t monotonic_ms64() {
    timespec ts;
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

uint32_t monotonic_ms() {
    return static_cast<uint32_t>(monotonic_ms64());
}

void sleep_ms(uint32_t ms) {
    timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (::nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

LocalTime local_now() {
    time_t now = ::time(nullptr);
    tm t{};
    ::localtime_r(&now, &t);
    return LocalTime{t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour,
                     t.tm_min,         t.tm_sec,     t.tm_wday};
}

}  // namespace platform
