// A serial line handed down as an open descriptor (POSIX): poll() for the
// read time-out, termios for raw mode.
#include "platform/serial_descriptor.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

namespace platform {

namespace {

class DescriptorDevice final : public platform::SerialDevice {
  public:
    DescriptorDevice(int fd, bool own) : fd_(fd), own_(own) {}
    ~DescriptorDevice() override {
        if (own_) ::close(fd_);
    }
    int configure(const platform::SerialConfig& config) override {
        baud_ = config.baud;
        if (!::isatty(fd_)) return 0;
        termios t;
        if (::tcgetattr(fd_, &t) != 0) return -1;
        ::cfmakeraw(&t);
        speed_t speed = baud_constant(config.baud);
        if (speed != 0) {
            ::cfsetispeed(&t, speed);
            ::cfsetospeed(&t, speed);
        }
        return ::tcsetattr(fd_, TCSANOW, &t) == 0 ? 0 : -1;
    }
    int read_config(platform::SerialConfig* config) override {
        config->baud = baud_;
        return 0;
    }
    int read(void* buffer, size_t max, int timeout_ms) override {
        pollfd p{fd_, POLLIN, 0};
        int r;
        do {
            r = ::poll(&p, 1, timeout_ms);
        } while (r < 0 && errno == EINTR);
        if (r < 0) return -1;
        if (r == 0) return 0;
        ssize_t n = ::read(fd_, buffer, max);
        if (n < 0) return (errno == EAGAIN || errno == EINTR) ? 0 : -1;
        return static_cast<int>(n);
    }
    int write(const void* data, size_t count) override {
        const char* p = static_cast<const char*>(data);
        size_t done = 0;
        while (done < count) {
            ssize_t n = ::write(fd_, p + done, count - done);
            if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
                pollfd w{fd_, POLLOUT, 0};
                ::poll(&w, 1, 1000);
                continue;
            }
            if (n <= 0) return -1;
            done += static_cast<size_t>(n);
        }
        return static_cast<int>(done);
    }
    int modem_status(unsigned* lines) override {
        *lines = 0;
        return 0;
    }
    int drain() override { return 0; }

  private:
    static speed_t baud_constant(int baud) {
        switch (baud) {
            case 9600:
                return B9600;
            case 19200:
                return B19200;
            case 38400:
                return B38400;
            case 57600:
                return B57600;
            case 115200:
                return B115200;
            default:
                return 0;
        }
    }
    int fd_;
    bool own_;
    int baud_ = 57600;
};

}  // namespace

int serial_from_descriptor(int fd, bool own, std::unique_ptr<SerialDevice>& out) {
    out.reset();
    if (fd < 0 || ::fcntl(fd, F_GETFD) < 0) return EBADF;
    out = std::make_unique<DescriptorDevice>(fd, own);
    return 0;
}

}  // namespace platform
