// A serial line handed down as a descriptor: not a Windows feature.
#include "platform/serial_descriptor.h"

#include <cerrno>

namespace platform {

int serial_from_descriptor(int fd, bool own, std::unique_ptr<SerialDevice>& out) {
    (void)fd;
    (void)own;
    out.reset();
    return ENOTSUP;
}

}  // namespace platform
