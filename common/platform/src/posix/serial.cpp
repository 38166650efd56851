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
#include <ctime>

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
        if (max == 0) return 0;
        short revents = 0;
        int rc = poll_for(fd_, POLLIN, timeout_ms, &revents);
        if (rc < 0) return -1;
        if (rc == 0) return 0;
        ssize_t n = ::read(fd_, buffer, max);
        if (n >= 0) return static_cast<int>(n);
        if (errno == EAGAIN || errno == EINTR) return 0;
        return -1;
    }

    int write(const void* data, size_t count) override {
        const char* p = static_cast<const char*>(data);
        size_t done = 0;
        while (done < count) {
            ssize_t n = ::write(fd_, p + done, count - done);
            if (n > 0) {
                done += static_cast<size_t>(n);
                continue;
            }
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
    // Raises or drops DTR and RTS; a device without modem lines accepts it.
    int set_lines(bool dtr, bool rts) {
        int on = (dtr ? TIOCM_DTR : 0) | (rts ? TIOCM_RTS : 0);
        int off = (dtr ? 0 : TIOCM_DTR) | (rts ? 0 : TIOCM_RTS);
        if (on && ::ioctl(fd_, TIOCMBIS, &on) != 0 && !no_modem_lines(errno)) return -1;
        if (off && ::ioctl(fd_, TIOCMBIC, &off) != 0 && !no_modem_lines(errno)) return -1;
        return 0;
    }

    int fd_;
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

}  // namespace platform
