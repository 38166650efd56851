// POSIX implementation of platform/serial.h.
//
// The line is driven through the kernel's termios2 interface (TCGETS2 /
// TCSETS2 with BOTHER), so any rate the driver accepts can be set, not only
// the rates glibc has B-constants for (76800 has none on Linux). That is why
// this file includes <asm/termbits.h> and not <termios.h>: the two define the
// same structures and cannot be used together.
#include <asm/termbits.h>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <ctime>
#include <string>

#include "event_posix.h"
#include "platform/serial.h"

namespace platform {

namespace {

// A write that makes no progress for this long gives up, so a line that
// never drains (a peer that stopped reading) cannot hold the caller forever.
constexpr int kWriteStallMs = 30000;

uint64_t now_ms() {
    timespec ts;
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

// Waits for events on fd for up to timeout_ms, retrying after signals with
// the time that is left. Returns poll's result.
int poll_for(int fd, short events, int timeout_ms, short* revents) {
    uint64_t deadline = now_ms() + static_cast<uint64_t>(timeout_ms < 0 ? 0 : timeout_ms);
    for (;;) {
        pollfd p{fd, events, 0};
        int rc = ::poll(&p, 1, timeout_ms);
        if (rc >= 0) {
            *revents = p.revents;
            return rc;
        }
        if (errno != EINTR) return -1;
        uint64_t now = now_ms();
        timeout_ms = now >= deadline ? 0 : static_cast<int>(deadline - now);
    }
}

// poll() on count descriptors for up to timeout_ms, retrying after signals
// with the time that is left.
int poll_both(pollfd* fds, int count, int timeout_ms) {
    uint64_t deadline = now_ms() + static_cast<uint64_t>(timeout_ms < 0 ? 0 : timeout_ms);
    for (;;) {
        int rc = ::poll(fds, static_cast<nfds_t>(count), timeout_ms);
        if (rc >= 0 || errno != EINTR) return rc;
        uint64_t now = now_ms();
        timeout_ms = now >= deadline ? 0 : static_cast<int>(deadline - now);
    }
}

// Raw mode, the character size, parity, stop bits and CTS flow of config.
void apply_line_settings(termios2& t, const SerialConfig& config) {
    t.c_iflag &=
        ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY);
    t.c_oflag &= ~OPOST;
    t.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS | CBAUD | (CBAUD << IBSHIFT));
    switch (config.data_bits) {
        case 5:
            t.c_cflag |= CS5;
            break;
        case 6:
            t.c_cflag |= CS6;
            break;
        case 7:
            t.c_cflag |= CS7;
            break;
        default:
            t.c_cflag |= CS8;
            break;
    }
    if (config.parity) t.c_cflag |= PARENB;
    if (config.stop_bits == 2) t.c_cflag |= CSTOPB;
    if (config.cts_flow) t.c_cflag |= CRTSCTS;
    // The modem lines are watched by the program itself (ring, carrier), so
    // the driver must not hang up or block on them.
    t.c_cflag |= CREAD | CLOCAL | BOTHER | (BOTHER << IBSHIFT);
    t.c_ispeed = static_cast<speed_t>(config.baud);
    t.c_ospeed = static_cast<speed_t>(config.baud);
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
}

// Devices without modem lines (pseudo-terminals) answer the modem-line
// requests with one of these.
bool no_modem_lines(int error) {
    return error == ENOTTY || error == EINVAL;
}

class PosixSerial final : public SerialDevice {
  public:
    explicit PosixSerial(int fd) : fd_(fd) {}
    ~PosixSerial() override { ::close(fd_); }
    PosixSerial(const PosixSerial&) = delete;
    PosixSerial& operator=(const PosixSerial&) = delete;

    int configure(const SerialConfig& config) override {
        if (config.baud < 1) {
            errno = EINVAL;
            return -1;
        }
        termios2 t{};
        if (::ioctl(fd_, TCGETS2, &t) != 0) return -1;
        apply_line_settings(t, config);
        if (::ioctl(fd_, TCSETS2, &t) != 0) return -1;
        return set_lines(config.dtr, config.rts);
    }

    int read_config(SerialConfig* config) override {
        termios2 t{};
        if (::ioctl(fd_, TCGETS2, &t) != 0) return -1;
        config->baud = static_cast<int>(t.c_ospeed);
        switch (t.c_cflag & CSIZE) {
            case CS5:
                config->data_bits = 5;
                break;
            case CS6:
                config->data_bits = 6;
                break;
            case CS7:
                config->data_bits = 7;
                break;
            default:
                config->data_bits = 8;
                break;
        }
        config->parity = (t.c_cflag & PARENB) != 0;
        config->stop_bits = (t.c_cflag & CSTOPB) ? 2 : 1;
        config->cts_flow = (t.c_cflag & CRTSCTS) != 0;
        config->dsr_flow = false;
        int lines = 0;
        if (::ioctl(fd_, TIOCMGET, &lines) == 0) {
            config->dtr = (lines & TIOCM_DTR) != 0;
            config->rts = (lines & TIOCM_RTS) != 0;
        }
        return 0;
    }

    int read(void* buffer, size_t max, int timeout_ms) override {
        return read_waiting(buffer, max, timeout_ms, -1);
    }

    int read_unless(void* buffer, size_t max, int timeout_ms, const Event& wake) override {
        if (wake.is_set()) return 0;
        int wake_fd = event_fd(wake);
        if (wake_fd < 0) return SerialDevice::read_unless(buffer, max, timeout_ms, wake);
        return read_waiting(buffer, max, timeout_ms, wake_fd);
    }

    bool lost() const override { return lost_; }

    int write(const void* data, size_t count) override {
        const char* p = static_cast<const char*>(data);
        size_t done = 0;
        while (done < count) {
            ssize_t n = ::write(fd_, p + done, count - done);
            if (n > 0) {
                done += static_cast<size_t>(n);
                continue;
            }
            if (n < 0 && (errno == EIO || errno == ENXIO || errno == ENODEV)) return line_gone();
            if (n < 0 && errno != EAGAIN && errno != EINTR) return -1;
            short revents = 0;
            int rc = poll_for(fd_, POLLOUT, kWriteStallMs, &revents);
            if (rc < 0) return -1;
            if (rc == 0) {
                errno = ETIMEDOUT;
                return -1;
            }
        }
        return static_cast<int>(done);
    }

    int modem_status(unsigned* lines) override {
        int bits = 0;
        *lines = 0;
        if (::ioctl(fd_, TIOCMGET, &bits) != 0) return no_modem_lines(errno) ? 0 : -1;
        if (bits & TIOCM_CTS) *lines |= kLineCts;
        if (bits & TIOCM_DSR) *lines |= kLineDsr;
        if (bits & TIOCM_RNG) *lines |= kLineRing;
        if (bits & TIOCM_CAR) *lines |= kLineCarrier;
        return 0;
    }

    int drain() override {
        // TCSBRK with a non-zero argument is tcdrain().
        while (::ioctl(fd_, TCSBRK, 1) != 0) {
            if (errno != EINTR) return -1;
        }
        return 0;
    }

  private:
    // Waits for data (or for wake_fd, when not -1, to become readable) and
    // reads what is there. A hang-up is reported by poll() as POLLHUP or
    // POLLERR and by read() as end of file or EIO: the line is lost.
    int read_waiting(void* buffer, size_t max, int timeout_ms, int wake_fd) {
        if (max == 0) return 0;
        if (lost_) return line_gone();
        pollfd p[2] = {{fd_, POLLIN, 0}, {wake_fd, POLLIN, 0}};
        int rc = poll_both(p, wake_fd >= 0 ? 2 : 1, timeout_ms);
        if (rc < 0) return -1;
        if (rc == 0) return 0;
        if ((p[0].revents & POLLIN) == 0) {
            if (p[0].revents & (POLLHUP | POLLERR | POLLNVAL)) return line_gone();
            return 0;  // only the wake event
        }
        ssize_t n = ::read(fd_, buffer, max);
        if (n > 0) return static_cast<int>(n);
        if (n == 0) return line_gone();
        if (errno == EAGAIN || errno == EINTR) return 0;
        if (errno == EIO || errno == ENXIO || errno == ENODEV) return line_gone();
        return -1;
    }

    int line_gone() {
        lost_ = true;
        errno = EIO;
        return -1;
    }

    // Raises or drops DTR and RTS; a device without modem lines accepts it.
    int set_lines(bool dtr, bool rts) {
        int on = (dtr ? TIOCM_DTR : 0) | (rts ? TIOCM_RTS : 0);
        int off = (dtr ? 0 : TIOCM_DTR) | (rts ? 0 : TIOCM_RTS);
        if (on && ::ioctl(fd_, TIOCMBIS, &on) != 0 && !no_modem_lines(errno)) return -1;
        if (off && ::ioctl(fd_, TIOCMBIC, &off) != 0 && !no_modem_lines(errno)) return -1;
        return 0;
    }

    int fd_;
    bool lost_ = false;
};

}  // namespace

int serial_open(const std::string& device_path, std::unique_ptr<SerialDevice>& out) {
    // Non-blocking so that opening a modem line without carrier does not
    // hang; reads and writes wait with poll().
    int fd = ::open(device_path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return errno;
    // Not shared: an advisory lock that every copy of the server takes.
    // TIOCEXCL would not keep out a process running as root.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        int error = errno == EWOULDBLOCK ? EBUSY : errno;
        ::close(fd);
        return error;
    }
    out = std::make_unique<PosixSerial>(fd);
    return 0;
}

std::string serial_open_advice(int error, const std::string& device_path) {
    switch (error) {
        case ENOENT:
        case ENODEV:
        case ENXIO:
            return device_path + ": no such device; is the cradle plugged in?";
        case EACCES:
        case EPERM:
            return "permission denied: add the user to the dialout group, or run as the "
                   "quaylink service";
        case EBUSY:
            return device_path + " is in use by another program; close it or choose another port";
        case ENOTTY:
        case EINVAL:
            return device_path + " is not a serial port; choose another port in Settings";
        default:
            return device_path + ": " + std::strerror(error);
    }
}

}  // namespace platform
