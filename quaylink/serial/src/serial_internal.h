// Pieces shared by the files of the serial library; not part of its API.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/serial.h"
#include "serial/port.h"

namespace ql {

struct Port {
    std::unique_ptr<platform::SerialDevice> device;
    PortTimeouts timeouts;   // emulated driver time-outs of this handle
    std::string given_back;  // bytes port_unread returned, read before the line
};

namespace serial_detail {

// ms on the serial library's time scale (at least 1 when ms is not 0).
uint32_t scaled(uint32_t ms);

// A pause of ms on the serial library's time scale.
void pause(uint32_t ms);

// The same pause, ending early when the operator's stop request is raised:
// for the idle waits of the line (waiting for a call). True when stopped.
bool pause_unless_stopped(uint32_t ms);

// Monotonic milliseconds (real time; durations are scaled, not the clock).
uint64_t now();

// Wraps an open device in a port without configuring it.
Port* wrap(std::unique_ptr<platform::SerialDevice> device);

// The error line every failing serial step logs.
void log_error(const char* format, int error);

// A device that could not be opened: "Comm CreateFile Error: <n> (<reason
// and next step>)", and the reason kept for port_open_failure_reason.
void log_open_error(int error, const std::string& device_path);

// Keeps the reason of a failure to open the line for the caller to show.
void set_open_failure_reason(const std::string& reason);

// The line settings the server always uses: baud, 8 data bits, no parity,
// one stop bit, no CTS/DSR flow control, DTR and RTS on. Other fields keep
// what the device reported.
void set_line_settings(platform::SerialConfig& config, int baud);

}  // namespace serial_detail
}  // namespace ql
