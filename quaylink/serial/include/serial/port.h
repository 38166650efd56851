// The serial line to the terminal.
//
// A Port is owned by the communication thread for one connection or call.
// Every function here may be called with a port made from any
// platform::SerialDevice (port_from_device), so tests can use fakes; the
// real ones come from port_open.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/event.h"
#include "platform/serial.h"

namespace ql {

struct Port;  // opaque

// Block hint value meaning "none".
inline constexpr int kNoBlockHint = -999;

// Device path of port number n: the [ports] entry "com<n>" of the settings
// file when there is one, else /dev/ttyS<n-1>. With the commport setting
// naming a device path, that path is used for the configured port. On
// Windows neither the map nor a device path applies: port n is "\\.\COM<n>"
// (platform::serial_port_device).
std::string port_device_path(int port_number);

// Opens and configures port number n at baud for the connect kind
// (0 direct, 1 irda: the IR cradle handshake first, 2 usb). Logs every
// failure; returns nullptr on failure.
Port* port_open(int port_number, int baud, int connect_kind);

// Why the last port_open of this thread failed, in words with the next
// step for the operator ("" when it failed in no way that has one, or
// did not fail).
std::string port_open_failure_reason();

// Wraps an already open device (tests, simulators) with the line settings
// and read time-outs port_open gives, at the device's current rate. Logs
// and returns nullptr when the device refuses the settings.
Port* port_from_device(std::unique_ptr<platform::SerialDevice> device);

// Closes the port; nullptr is allowed.
void port_close(Port* port);

// Timed read. buffer must hold max + 1 bytes; the data is terminated with a
// zero byte after the count. Returns the count (0 on timeout or error).
// block_hint kNoBlockHint = none.
//
// A read that fails (the line has gone away, see port_lost) still takes
// its whole time-out before it returns 0, so that no caller's loop turns
// into a spin on a dead line.
//
// wake (optional): an idle read that ends early when the event is set. It
// returns 0 as soon as the event is up while no byte has arrived yet (at
// once when it already is); once bytes are coming the read finishes as
// usual, so a frame is never cut by it. Reads inside a transfer pass none.
int port_read(Port* port, char* buffer, int max, uint32_t total_timeout_ms, int block_hint,
              const platform::Event* wake = nullptr);

// Gives bytes back to the port: the next reads return them first, as if
// they had just arrived, before anything still on the line. For bytes that
// came in the same read as an answer but belong to what follows it.
void port_unread(Port* port, const char* data, int count);

// True once the line behind the port has gone away for good (a USB device
// unplugged, a line hung up): reads will never return data again and the
// port must be closed. A quiet line is not lost.
bool port_lost(Port* port);

// Writes count bytes. Returns the count written, or -1.
int port_write(Port* port, const void* data, int count);

// The device behind the port (for modem status and similar).
platform::SerialDevice* port_device(Port* port);

// 0 if the device of port n can be opened (it is closed again), -1 if not.
int port_present(int port_number);

// The IR cradle baud handshake: 0 when the cradle answered and was set to
// baud, a negative code otherwise. The operator's stop request ends it
// within one probe step (at most about 200 ms), with a negative code.
int ir_cradle_set_baud(int port_number, int baud);

// Starts clean: forgets the current read timeout and the byte-read flag.
void port_reset_state();

// What the operator sees for port n: "COM<n>", or the device path when the
// commport setting names one (where device paths are supported).
std::string port_display_name(int port_number);

// The read time-outs in force on a port, as the driver would hold them, and
// how often they have been written since the port was opened (each change
// costs a driver call on a real line).
struct PortTimeouts {
    uint32_t interval_ms = 0;       // longest gap between two bytes, 0 = none
    uint32_t total_constant = 0;    // total time-out of a read, ms
    uint32_t total_multiplier = 0;  // plus this many ms per byte asked for
    int writes = 0;
};
PortTimeouts port_timeouts(Port* port);

// The total read time-out last put into a port (process-wide).
uint32_t port_current_read_timeout();

// Time scale of the serial link for tests: every pause, time-out and
// deadline of this library (port reads, cradle handshake, modem dialogue,
// call counter retries) is divided by divisor, so that a 30 s wait takes
// 30 s / divisor. 1 (the default) is real time; values below 1 count as 1.
void serial_set_time_divisor(int divisor);
int serial_time_divisor();

// A pause of ms on that time scale, for the line's callers (the command
// loop and the communication thread) whose waits follow the line's.
void serial_pause(uint32_t ms);

// The same pause, ending early when wake is set (at once when it already
// is). Returns true when it ended because of wake.
bool serial_pause_unless(uint32_t ms, const platform::Event& wake);

}  // namespace ql
