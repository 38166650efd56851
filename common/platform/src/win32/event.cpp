// Windows implementation of platform/event.h on a manual-reset event
// object. The flag mirrors the object so is_set() needs no system call and
// an event without its object still works.
#include <windows.h>

#include <algorithm>

#include "event_impl.h"
#include "platform/clock.h"

namespace platform {

namespace {

// Without the event object, waits look at the flag this often.
constexpr uint32_t kFallbackSliceMs = 10;

}  // namespace

Event::Event() : impl_(std::make_unique<Impl>()) {
    impl_->handle = CreateEventW(nullptr, TRUE, FALSE, nullptr);
}

Event::~Event() {
    if (impl_->handle != nullptr) CloseHandle(impl_->handle);
}

void Event::set() {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->flag.store(true);
    if (impl_->handle != nullptr) SetEvent(impl_->handle);
}

void Event::reset() {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->flag.store(false);
    if (impl_->handle != nullptr) ResetEvent(impl_->handle);
}

bool Event::is_set() const {
    return impl_->flag.load();
}

bool Event::wait(uint32_t timeout_ms) const {
    const uint64_t deadline = monotonic_ms64() + timeout_ms;
    for (;;) {
        if (is_set()) return true;
        uint64_t now = monotonic_ms64();
        if (now >= deadline) return false;
        // INFINITE is 0xFFFFFFFF: keep every single wait below it.
        DWORD left = static_cast<DWORD>(std::min<uint64_t>(deadline - now, 0x7FFFFFFF));
        if (impl_->handle == nullptr) {
            Sleep(std::min<DWORD>(left, kFallbackSliceMs));
            continue;
        }
        WaitForSingleObject(impl_->handle, left);  // set, or the time is up: look again
    }
}

}  // namespace platform
