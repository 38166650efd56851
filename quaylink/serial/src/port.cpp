// The serial line to the terminal: opening, configuring, timed reads.
//
// Reads keep the driver time-out model of the original line handling: a
// read returns when max bytes are in, when the gap after the last byte
// exceeds the interval time-out, or when the total time-out expires. The
// time-outs are held per handle and measured here with poll() against a
// monotonic clock, because termios (VMIN/VTIME in tenths of a second)
// cannot express them.
#include <strings.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>

#include "foundation/log.h"
#include "foundation/server_state.h"
#include "foundation/settings.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/serial_ports.h"
#include "serial_internal.h"

namespace ql {

namespace {

constexpr int kErrorFlag = 99;
constexpr uint32_t kNormalTotalMs = 5000;
constexpr uint32_t kAltIntervalMs = 1;
constexpr uint32_t kAltTotalMs = 10;
constexpr uint32_t kByteReadIntervalMs = 5;
constexpr uint32_t kByteReadTotalMs = 50;
constexpr uint32_t kModemBlockGapMs = 5000;
constexpr char kSoh = 0x01;
// Block header, data and check bytes of a transfer block beyond its hint.
constexpr int kBlockOverhead = 132;

std::atomic<uint32_t> g_current_read_timeout{0};
std::atomic<bool> g_byte_read_set{false};
std::atomic<int> g_time_divisor{1};

void set_timeouts(Port* port, uint32_t interval, uint32_t constant, uint32_t multiplier) {
    port->timeouts.interval_ms = interval;
    port->timeouts.total_constant = constant;
    port->timeouts.total_multiplier = multiplier;
    ++port->timeouts.writes;
}

std::string trim(const std::string& text) {
    size_t begin = text.find_first_not_of(" \t\r");
    if (begin == std::string::npos) return std::string();
    size_t end = text.find_last_not_of(" \t\r");
    return text.substr(begin, end - begin + 1);
}

// The value of key in section of an INI text, matching both names whole
// (ignoring case): "com1" must not find "com12".
std::string ini_value(const std::string& text, const char* section, const std::string& key) {
    bool in_section = false;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string line = trim(text.substr(pos, end - pos));
        pos = end + 1;
        if (!line.empty() && line[0] == '[') {
            size_t close = line.find(']');
            std::string name = trim(line.substr(1, close == std::string::npos ? 0 : close - 1));
            in_section = ::strcasecmp(name.c_str(), section) == 0;
            continue;
        }
        size_t eq = line.find('=');
        if (!in_section || eq == std::string::npos) continue;
        if (::strcasecmp(trim(line.substr(0, eq)).c_str(), key.c_str()) == 0)
            return trim(line.substr(eq + 1));
    }
    return std::string();
}

// Moves up to max bytes that port_unread gave back into buffer.
int take_given_back(Port* port, char* buffer, int max) {
    std::string& back = port->given_back;
    int n = static_cast<int>(std::min(back.size(), static_cast<size_t>(max)));
    if (n == 0) return 0;
    std::memcpy(buffer, back.data(), static_cast<size_t>(n));
    back.erase(0, static_cast<size_t>(n));
    return n;
}

// Reads into buffer the way the driver reads with the port's time-outs:
// returns when max bytes are in, when a gap after some bytes is longer than
// the interval time-out, or when the total time-out (constant + multiplier
// per byte) has passed; a total of 0 takes only what is already there.
// Bytes given back count as just arrived. With wake, the wait for the
// first byte also ends when the event is set. Returns the count, or -1
// when the device fails before any byte came.
int driver_read(Port* port, char* buffer, int max, const platform::Event* wake) {
    const PortTimeouts& t = port->timeouts;
    uint64_t total = serial_detail::scaled(static_cast<uint32_t>(std::min<uint64_t>(
        static_cast<uint64_t>(t.total_multiplier) * static_cast<uint64_t>(max) + t.total_constant,
        UINT32_MAX)));
    uint64_t interval = serial_detail::scaled(t.interval_ms);
    uint64_t start = serial_detail::now();
    uint64_t deadline = start + total;
    uint64_t last = start;
    int count = take_given_back(port, buffer, max);
    while (count < max) {
        uint64_t now = serial_detail::now();
        uint64_t until = deadline;
        if (count > 0 && interval > 0) until = std::min(until, last + interval);
        int wait = until > now ? static_cast<int>(until - now) : 0;
        int n;
        if (count == 0 && wake != nullptr) {
            n = port->device->read_unless(buffer, static_cast<size_t>(max), wait, *wake);
            if (n == 0 && wake->is_set()) break;
        } else {
            n = port->device->read(buffer + count, static_cast<size_t>(max - count), wait);
        }
        if (n < 0) return count > 0 ? count : -1;
        if (n == 0) {
            if (wait == 0) break;
            continue;
        }
        count += n;
        last = serial_detail::now();
    }
    return count;
}

// -1 when the device failed (the buffer is then cleared).
int read_normal(Port* port, char* buffer, int max, uint32_t total_timeout,
                const platform::Event* wake) {
    // A handle that never had time-outs put on it (the cradle probe's own)
    // gets them too, even when the remembered total already matches.
    if (total_timeout != g_current_read_timeout.load() || port->timeouts.writes == 0) {
        set_timeouts(port, static_cast<uint32_t>(std::max(settings().interchardelay, 0)),
                     total_timeout, port->timeouts.total_multiplier);
        g_current_read_timeout = total_timeout;
    }
    std::memset(buffer, 0, static_cast<size_t>(max));
    int count = driver_read(port, buffer, max, wake);
    if (count < 0) return -1;
    buffer[count] = 0;
    return count;
}

// Length of a read that began with SOH under a block hint: the whole block,
// but never more than the caller's buffer holds.
int block_length(int hint, int max) {
    return std::clamp(hint + kBlockOverhead, 1, max);
}

// -1 when the device failed before any byte came.
int read_alt(Port* port, char* buffer, int max, uint32_t total_timeout, int block_hint,
             const platform::Event* wake) {
    if (!g_byte_read_set.load()) {
        set_timeouts(port, kByteReadIntervalMs, kByteReadTotalMs, 0);
        g_current_read_timeout = kByteReadTotalMs;
        g_byte_read_set = true;
    }
    std::memset(buffer, 0, static_cast<size_t>(max));
    const uint64_t total = serial_detail::scaled(total_timeout);
    const uint64_t delay =
        serial_detail::scaled(static_cast<uint32_t>(std::max(settings().interchardelay, 0)));
    const bool hinted = block_hint != kNoBlockHint;
    uint64_t now = serial_detail::now();
    uint64_t total_deadline = now + total;
    uint64_t gap_deadline = now + delay;
    int count = 0;
    int limit = max;
    while (serial_detail::now() < total_deadline) {
        const platform::Event* idle_wake = count == 0 ? wake : nullptr;
        if (idle_wake != nullptr && idle_wake->is_set()) break;
        int n = driver_read(port, buffer + count, 1, idle_wake);
        if (n < 0) {
            if (count == 0) return -1;
            break;
        }
        count += n;
        if (count >= limit) break;
        now = serial_detail::now();
        if (n == 0) {
            if (count > 0 && now >= gap_deadline) break;
            // A handle without time-outs returns at once: do not spin.
            if (port->timeouts.total_constant + port->timeouts.total_multiplier == 0)
                platform::sleep_ms(1);
            continue;
        }
        total_deadline = now + total;
        if (count == 1) {
            if (hinted && buffer[0] == kSoh) limit = block_length(block_hint, max);
            gap_deadline = now + delay;
            if (count >= limit) break;
        } else {
            bool long_gap = settings().modem && hinted;
            gap_deadline = now + (long_gap ? serial_detail::scaled(kModemBlockGapMs) : delay);
        }
    }
    buffer[count] = 0;
    return count;
}

// The settings every port gets (step 4 of opening), keeping the device's
// other fields. Logs and returns false on failure.
bool apply_port_settings(Port* port, int baud) {
    platform::SerialConfig config;
    if (port->device->read_config(&config) != 0) {
        serial_detail::log_error("Comm GetCommState Error: %d", platform::last_error());
        return false;
    }
    serial_detail::set_line_settings(config, baud);
    if (port->device->configure(config) != 0) {
        serial_detail::log_error("Comm SetCommState Error: %d", platform::last_error());
        return false;
    }
    return true;
}

// The read time-outs of the configured read mode (step 5 of opening).
void apply_mode_timeouts(Port* port) {
    if (settings().altread) {
        set_timeouts(port, kAltIntervalMs, kAltTotalMs, port->timeouts.total_multiplier);
        return;
    }
    set_timeouts(port, static_cast<uint32_t>(std::max(settings().interchardelay, 0)),
                 kNormalTotalMs, port->timeouts.total_multiplier);
    g_current_read_timeout = kNormalTotalMs;
}

// Configures a freshly opened device; closes it and returns nullptr on
// failure. The kernel's queues are fixed in size, so there is no queue
// size step that could fail.
Port* configure_port(std::unique_ptr<platform::SerialDevice> device, int baud) {
    Port* port = serial_detail::wrap(std::move(device));
    if (!apply_port_settings(port, baud)) {
        port_close(port);
        return nullptr;
    }
    apply_mode_timeouts(port);
    return port;
}

}  // namespace

namespace serial_detail {

uint32_t scaled(uint32_t ms) {
    if (ms == 0) return 0;
    int divisor = g_time_divisor.load();
    return divisor <= 1 ? ms : std::max<uint32_t>(1, ms / static_cast<uint32_t>(divisor));
}

void pause(uint32_t ms) {
    platform::sleep_ms(scaled(ms));
}

bool pause_unless_stopped(uint32_t ms) {
    return server_state().stop_request.event().wait(scaled(ms));
}

uint64_t now() {
    return platform::monotonic_ms64();
}

Port* wrap(std::unique_ptr<platform::SerialDevice> device) {
    Port* port = new Port;
    port->device = std::move(device);
    return port;
}

void log_error(const char* format, int error) {
    log_event(strformat(format, error), kErrorFlag, 0);
}

namespace {
// Per thread: the communication thread and the port search each open ports.
thread_local std::string t_open_failure_reason;
}  // namespace

void set_open_failure_reason(const std::string& reason) {
    t_open_failure_reason = reason;
}

void log_open_error(int error, const std::string& device_path) {
    // The number stays first, as older logs have it; the words say what to do.
    const std::string reason = platform::serial_open_advice(error, device_path);
    set_open_failure_reason(reason);
    log_event(strformat("Comm CreateFile Error: %d (", error) + reason + ")", kErrorFlag, 0);
}

void set_line_settings(platform::SerialConfig& config, int baud) {
    config.baud = baud;
    config.data_bits = 8;
    config.parity = false;
    config.stop_bits = 1;
    config.cts_flow = false;
    config.dsr_flow = false;
    config.dtr = true;
    config.rts = true;
}

}  // namespace serial_detail

std::string port_device_path(int port_number) {
    // Where the OS names every port by its number, that name is the only one.
    if (!platform::serial_device_paths_supported())
        return platform::serial_port_device(port_number);
    const ServerSettings& s = settings();
    if (!s.commport_device.empty() && port_number == s.commport) return s.commport_device;
    std::string text;
    if (platform::read_file(server_paths().settings_path, text) == 0) {
        std::string mapped = ini_value(text, "ports", "com" + std::to_string(port_number));
        if (!mapped.empty()) return mapped;
    }
    return platform::serial_port_device(port_number);
}

std::string port_display_name(int port_number) {
    const ServerSettings& s = settings();
    if (platform::serial_device_paths_supported() && !s.commport_device.empty() &&
        port_number == s.commport)
        return s.commport_device;
    return "COM" + std::to_string(port_number);
}

std::string port_open_failure_reason() {
    return serial_detail::t_open_failure_reason;
}

Port* port_open(int port_number, int baud, int connect_kind) {
    serial_detail::set_open_failure_reason("");
    if (connect_kind == kConnectIrda) {
        // The cradle sometimes misses the first handshake: one more try,
        // unless the operator stopped meanwhile.
        if (ir_cradle_set_baud(port_number, baud) != 0 &&
            (server_state().stop_request.load() || ir_cradle_set_baud(port_number, baud) != 0))
            return nullptr;
    }
    std::unique_ptr<platform::SerialDevice> device;
    const std::string path = port_device_path(port_number);
    int error = platform::serial_open(path, device);
    if (error != 0) {
        serial_detail::log_open_error(error, path);
        return nullptr;
    }
    return configure_port(std::move(device), baud);
}

Port* port_from_device(std::unique_ptr<platform::SerialDevice> device) {
    if (!device) return nullptr;
    platform::SerialConfig config;
    device->read_config(&config);
    return configure_port(std::move(device), config.baud);
}

void port_close(Port* port) {
    delete port;
}

int port_read(Port* port, char* buffer, int max, uint32_t total_timeout_ms, int block_hint,
              const platform::Event* wake) {
    if (buffer == nullptr) return 0;
    if (port == nullptr || max <= 0) {
        buffer[0] = 0;
        return 0;
    }
    const uint64_t deadline = serial_detail::now() + serial_detail::scaled(total_timeout_ms);
    int n = settings().altread ? read_alt(port, buffer, max, total_timeout_ms, block_hint, wake)
                               : read_normal(port, buffer, max, total_timeout_ms, wake);
    if (n >= 0) return n;
    // A dead line fails at once: wait out the time-out the caller asked
    // for, as a quiet line would, instead of letting its loop spin.
    uint64_t now = serial_detail::now();
    if (now < deadline) {
        uint32_t left = static_cast<uint32_t>(std::min<uint64_t>(deadline - now, UINT32_MAX));
        if (wake != nullptr) {
            wake->wait(left);
        } else {
            platform::sleep_ms(left);
        }
    }
    buffer[0] = 0;
    return 0;
}

void port_unread(Port* port, const char* data, int count) {
    if (port == nullptr || data == nullptr || count <= 0) return;
    port->given_back.insert(0, data, static_cast<size_t>(count));
}

bool port_lost(Port* port) {
    return port != nullptr && port->device->lost();
}

int port_write(Port* port, const void* data, int count) {
    if (port == nullptr || count < 0) return -1;
    if (count == 0) return 0;
    return port->device->write(data, static_cast<size_t>(count));
}

platform::SerialDevice* port_device(Port* port) {
    return port ? port->device.get() : nullptr;
}

int port_present(int port_number) {
    std::unique_ptr<platform::SerialDevice> device;
    int error = platform::serial_open(port_device_path(port_number), device);
    if (error != 0) {
        std::printf("Comm CreateFile Error: %d\r\n", error);
        std::fflush(stdout);
        return -1;
    }
    return 0;
}

PortTimeouts port_timeouts(Port* port) {
    return port ? port->timeouts : PortTimeouts{};
}

uint32_t port_current_read_timeout() {
    return g_current_read_timeout.load();
}

void port_reset_state() {
    g_current_read_timeout = 0;
    g_byte_read_set = false;
}

void serial_set_time_divisor(int divisor) {
    g_time_divisor = std::max(divisor, 1);
}

int serial_time_divisor() {
    return g_time_divisor.load();
}

void serial_pause(uint32_t ms) {
    serial_detail::pause(ms);
}

bool serial_pause_unless(uint32_t ms, const platform::Event& wake) {
    return wake.wait(serial_detail::scaled(ms));
}

}  // namespace ql
