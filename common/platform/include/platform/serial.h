// Serial devices, OS-neutral.
//
// Error contract: functions returning int give 0 (or a byte count) on
// success and -1 on failure with the error number in platform::last_error(),
// except serial_open, which returns the error number itself. Error numbers
// are errno values (<cerrno>) on every OS.
//
// On Windows the device is a COM port opened for overlapped I/O with driver
// queues of 2048 bytes each way. Where Windows differs:
// - read's time-out is the port's total read time-out (COMMTIMEOUTS), with
//   a backstop of two more seconds for drivers that ignore it;
// - a device without modem lines answers with "not supported": it reports
//   none set, as a pseudo-terminal does on POSIX;
// - the wine emulator does not enforce "not shared" on COM ports, accepts
//   odd rates and silently changes them, and reports the data bits, parity
//   and RTS of a pseudo-terminal link as the terminal has them.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "platform/event.h"

namespace platform {

struct SerialConfig {
    int baud = 9600;  // any rate the driver accepts
    int data_bits = 8;
    bool parity = false;
    int stop_bits = 1;
    bool cts_flow = false;
    bool dsr_flow = false;
    bool dtr = true;  // DTR line on
    bool rts = true;  // RTS line on
};

// Modem status lines (bit set = line active).
enum ModemLines : unsigned {
    kLineCts = 1u << 0,
    kLineDsr = 1u << 1,
    kLineRing = 1u << 2,
    kLineCarrier = 1u << 3,
};

class SerialDevice {
  public:
    virtual ~SerialDevice() = default;

    // Applies the line settings. 0 or -1. A rate below 1 is refused with
    // EINVAL before the device is touched, on every OS (zero is termios's
    // hang-up rate, and drivers differ on what they make of it).
    virtual int configure(const SerialConfig& config) = 0;

    // Reads the line settings now in force into *config (fields the device
    // cannot report keep their values). 0 or -1. Devices without settings
    // of their own (fakes) report success and leave *config alone.
    virtual int read_config(SerialConfig* config) {
        (void)config;
        return 0;
    }

    // Waits up to timeout_ms for at least one byte, then returns what is
    // there (at most max). Returns the count, 0 on timeout, -1 on error.
    // A line that has gone away (see lost()) gives -1 at once: the caller
    // decides how long to wait before it asks again.
    virtual int read(void* buffer, size_t max, int timeout_ms) = 0;

    // As read, but the wait also ends as soon as wake is set (at once when
    // it already is): then 0 may be returned, consuming nothing, even when
    // bytes are waiting; they stay for the next read. The default polls
    // read() in short slices; devices with an OS handle wait on both
    // objects at once (poll() here, WaitForMultipleObjects on Windows).
    virtual int read_unless(void* buffer, size_t max, int timeout_ms, const Event& wake);

    // True once a read or write found that the line has gone away for good
    // on this handle: the device was unplugged, the line hung up, or the
    // far end of a pseudo-terminal was closed. Never cleared; the handle
    // must be closed and the device opened again. Devices that cannot tell
    // say false.
    virtual bool lost() const { return false; }

    // Writes all bytes (blocking). Returns the count written or -1; a line
    // that takes nothing for 30 s fails with ETIMEDOUT.
    virtual int write(const void* data, size_t count) = 0;

    // Reads the modem status lines into *lines. A device without modem lines
    // (a pseudo-terminal) reports none set and succeeds. 0 or -1.
    virtual int modem_status(unsigned* lines) = 0;

    // Waits until everything written has left the driver. 0 or -1; on
    // Windows a queue that does not go down for 30 s fails with ETIMEDOUT.
    virtual int drain() = 0;
};

inline int SerialDevice::read_unless(void* buffer, size_t max, int timeout_ms, const Event& wake) {
    // Slices short enough that a raised event is seen well within the
    // half second the idle waits promise.
    constexpr int kSliceMs = 20;
    int left = timeout_ms < 0 ? 0 : timeout_ms;
    for (;;) {
        if (wake.is_set()) return 0;
        int slice = left < kSliceMs ? left : kSliceMs;
        int n = read(buffer, max, slice);
        if (n != 0 || left <= slice) return n;
        left -= slice;
    }
}

// Opens a serial device by path for reading and writing, not shared with
// other processes (an exclusive lock; EBUSY when another holds it), in raw
// mode. Returns 0 and sets out, or the error number (ENOENT for a device
// that does not exist). On Windows the path is "\\.\COMn" or "COMn"
// ('/' is read as '\'); sharing mode 0 keeps others out, and a port that
// another process holds gives EBUSY. Never waits for carrier.
int serial_open(const std::string& device_path, std::unique_ptr<SerialDevice>& out);

// The reason of a failed serial_open in words, with what the operator can
// do about it, for the error number it returned: "/dev/ttyUSB3: no such
// device; is the cradle plugged in?". The advice is the OS's own (a group
// to join on Linux, another program holding the port on Windows).
std::string serial_open_advice(int error, const std::string& device_path);

}  // namespace platform
