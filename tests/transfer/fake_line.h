// A serial device for transfer tests whose far end is simulated in the test
// thread: every write is handed to a responder, which may queue bytes for
// the next reads. A read with nothing queued sleeps its time-out and returns
// 0, like a quiet line.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/serial.h"
#include "serial/port.h"

namespace transfer_test {

class FakeLine final : public platform::SerialDevice {
  public:
    using Responder = std::function<void(const std::string& written, FakeLine& line)>;

    int configure(const platform::SerialConfig&) override { return 0; }

    int read(void* buffer, size_t max, int timeout_ms) override {
        if (incoming.empty()) {
            if (timeout_ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(timeout_ms));
            return 0;
        }
        std::string& chunk = incoming.front();
        size_t n = std::min(max, chunk.size());
        chunk.copy(static_cast<char*>(buffer), n);
        chunk.erase(0, n);
        if (chunk.empty()) incoming.pop_front();
        return static_cast<int>(n);
    }

    int write(const void* data, size_t count) override {
        std::string bytes(static_cast<const char*>(data), count);
        writes.push_back(bytes);
        if (respond) respond(bytes, *this);
        return static_cast<int>(count);
    }

    int modem_status(unsigned* lines) override {
        *lines = 0;
        return 0;
    }
    int drain() override { return 0; }

    // Queues bytes for the reads to come.
    void queue(const std::string& bytes) { incoming.push_back(bytes); }

    std::deque<std::string> incoming;
    std::vector<std::string> writes;
    Responder respond;
};

// A port around a fresh fake line; the port owns the line.
struct FakePort {
    FakePort() {
        auto device = std::make_unique<FakeLine>();
        line = device.get();
        port = ql::port_from_device(std::move(device));
    }
    ~FakePort() { ql::port_close(port); }
    FakePort(const FakePort&) = delete;
    FakePort& operator=(const FakePort&) = delete;

    FakeLine* line = nullptr;
    ql::Port* port = nullptr;
};

}  // namespace transfer_test
