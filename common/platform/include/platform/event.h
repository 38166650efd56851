// A manual-reset event: one thread raises it, others wait for it, and a
// serial read can be told to give up its wait when it is raised.
//
// On POSIX it is an eventfd (poll()able next to a device); a Windows side
// implements it with a manual-reset event object (CreateEvent) and waits
// with WaitForMultipleObjects next to an overlapped read.
#pragma once

#include <cstdint>
#include <memory>

namespace platform {

class Event {
  public:
    // A new event is not set. Creating it cannot fail in a way callers can
    // act on: without the OS object, wait() falls back to short sleeps.
    Event();
    ~Event();
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    // Raises the event; it stays set until reset(). Every waiter returns.
    // Thread-safe; never blocks.
    void set();

    // Lowers the event. Thread-safe; never blocks.
    void reset();

    // True while the event is set.
    bool is_set() const;

    // Blocks the calling thread until the event is set or timeout_ms has
    // passed (on a monotonic clock; signals do not shorten the wait).
    // Returns true when the event is set (at once when it already was),
    // false after the full time-out.
    bool wait(uint32_t timeout_ms) const;

    // The OS object behind the event, for the platform's own device code.
    struct Impl;
    const Impl& impl() const { return *impl_; }

  private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace platform
