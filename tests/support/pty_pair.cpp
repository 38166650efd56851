// Pseudo-terminal pair for tests. Uses the kernel's termios2 interface so
// that any rate the code under test set (76800 included) can be read back;
// <asm/termbits.h> cannot be combined with <termios.h> (or <pty.h>), hence
// posix_openpt instead of openpty.
#include "pty_pair.h"

#include <asm/termbits.h>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>

namespace testing_support {

namespace {

int64_t now_ms() {
    timespec ts;
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

bool wait_readable(int fd, int timeout_ms) {
    pollfd p{fd, POLLIN, 0};
    int rc = ::poll(&p, 1, timeout_ms < 0 ? 0 : timeout_ms);
    return rc > 0 && (p.revents & POLLIN);
}

void make_raw(int fd) {
    termios2 t{};
    if (::ioctl(fd, TCGETS2, &t) != 0) return;
    t.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON);
    t.c_oflag &= ~OPOST;
    t.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag &= ~(CSIZE | PARENB);
    t.c_cflag |= CS8 | CLOCAL | CREAD;
    ::ioctl(fd, TCSETS2, &t);
}

}  // namespace

PtyPair::PtyPair() {
    int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master < 0) return;
    char name[128];
    if (::grantpt(master) != 0 || ::unlockpt(master) != 0 ||
        ::ptsname_r(master, name, sizeof name) != 0) {
        ::close(master);
        return;
    }
    slave_ = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (slave_ < 0) {
        ::close(master);
        return;
    }
    make_raw(slave_);
    slave_path_ = name;
    master_ = master;
}

PtyPair::~PtyPair() {
    release_slave();
    if (master_ >= 0) ::close(master_);
}

void PtyPair::release_slave() {
    if (slave_ >= 0) ::close(slave_);
    slave_ = -1;
}

void PtyPair::close_master() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
}

bool PtyPair::write(const std::string& bytes) {
    return write(bytes.data(), bytes.size());
}

bool PtyPair::write(const void* data, size_t count) {
    const char* p = static_cast<const char*>(data);
    int64_t deadline = now_ms() + 10000;
    while (count > 0) {
        ssize_t n = ::write(master_, p, count);
        if (n > 0) {
            p += n;
            count -= size_t(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
        if (now_ms() > deadline) return false;
        pollfd w{master_, POLLOUT, 0};
        ::poll(&w, 1, 10);
    }
    return true;
}

std::string PtyPair::read(size_t max, int timeout_ms) {
    if (!wait_readable(master_, timeout_ms)) return std::string();
    std::string out(max, '\0');
    ssize_t n = ::read(master_, out.data(), max);
    out.resize(n > 0 ? size_t(n) : 0);
    return out;
}

std::string PtyPair::read_exactly(size_t count, int timeout_ms) {
    std::string out;
    int64_t deadline = now_ms() + timeout_ms;
    while (out.size() < count) {
        int64_t left = deadline - now_ms();
        if (left <= 0) break;
        out += read(count - out.size(), int(left));
    }
    return out;
}

std::string PtyPair::read_until(const std::string& needle, int timeout_ms) {
    std::string out;
    int64_t deadline = now_ms() + timeout_ms;
    while (out.find(needle) == std::string::npos) {
        int64_t left = deadline - now_ms();
        if (left <= 0) break;
        out += read(4096, int(left));
    }
    return out;
}

void PtyPair::discard() {
    while (!read(4096, 0).empty()) {
    }
}

int PtyPair::slave_baud() const {
    termios2 t{};
    if (::ioctl(master_, TCGETS2, &t) != 0) return -1;
    return int(t.c_ospeed);
}

}  // namespace testing_support
