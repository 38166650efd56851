// Clocks and pauses, OS-neutral.
#pragma once

#include <cstdint>

namespace platform {

// Milliseconds on a monotonic clock with an arbitrary origin; wraps like
// a 32-bit millisecond counter (compare with unsigned differences).
uint32_t monotonic_ms();

// Milliseconds on a monotonic clock, 64-bit, never wraps.
uint64_t monotonic_ms64();

// Blocks the calling thread for at least ms milliseconds.
void sleep_ms(uint32_t ms);

// Broken-down local time of "now".
struct LocalTime {
    int year;    // e.g. 2026
    int month;   // 1-12
    int day;     // 1-31
    int hour;    // 0-23
    int minute;  // 0-59
    int second;  // 0-60
    int weekday; // 0 = Sunday
};
LocalTime local_now();

// Time source that protocol code takes as a parameter, so tests can make
// long waits short. The system clock is the default; a test clock may scale
// or skip pauses.
class Clock {
public:
    virtual ~Clock() = default;
    virtual uint32_t now_ms() = 0;
    virtual void sleep(uint32_t ms) = 0;
};

// The real clock (monotonic_ms / sleep_ms).
Clock& system_clock();

}  // namespace platform
