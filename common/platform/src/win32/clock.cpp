// Windows implementation of platform/clock.h.
#include "platform/clock.h"

#include <windows.h>

namespace platform {

namespace {

uint64_t counter_frequency() {
    static const uint64_t frequency = [] {
        LARGE_INTEGER f;
        return QueryPerformanceFrequency(&f) && f.QuadPart > 0 ? static_cast<uint64_t>(f.QuadPart)
                                                               : 0;
    }();
    return frequency;
}

}  // namespace

uint64_t monotonic_ms64() {
    uint64_t frequency = counter_frequency();
    LARGE_INTEGER c;
    if (frequency == 0 || !QueryPerformanceCounter(&c)) return GetTickCount64();
    uint64_t ticks = static_cast<uint64_t>(c.QuadPart);
    // Split so that ticks * 1000 cannot overflow.
    return ticks / frequency * 1000u + ticks % frequency * 1000u / frequency;
}

uint32_t monotonic_ms() {
    return static_cast<uint32_t>(monotonic_ms64());
}

void sleep_ms(uint32_t ms) {
    // Sleep may end up to a timer tick early; sleep again for what is left.
    const uint64_t end = monotonic_ms64() + ms;
    for (;;) {
        uint64_t now = monotonic_ms64();
        if (now >= end) return;
        uint64_t left = end - now;
        Sleep(static_cast<DWORD>(left < 0x7FFFFFFFu ? left : 0x7FFFFFFFu));
    }
}

LocalTime local_now() {
    SYSTEMTIME t;
    GetLocalTime(&t);
    return LocalTime{t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wDayOfWeek};
}

}  // namespace platform
