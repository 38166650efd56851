// A serial line handed to the program already open, OS-neutral header.
#pragma once

#include <memory>

#include "platform/serial.h"

namespace platform {

// Wraps a descriptor this process already has open (a pseudo-terminal
// master a test harness passed down, for example) as a serial device.
// configure() puts a terminal in raw mode at the rate when the rate is one
// of 9600, 19200, 38400, 57600 or 115200 (other rates leave the speed
// alone; a descriptor that is no terminal is taken as it is); read() waits
// up to its time-out for the first byte; write() blocks until everything is
// written, waiting up to a second at a time while the line is full; there
// are no modem lines. The descriptor is closed with the device when own is
// set. Returns 0 and sets out, EBADF for a descriptor that is not open.
// POSIX only: Windows hands no descriptors down this way, and there the
// call returns ENOTSUP (out stays empty).
int serial_from_descriptor(int fd, bool own, std::unique_ptr<SerialDevice>& out);

}  // namespace platform
