// The call counter: QLCALLNO.DAT in the working directory holds, as decimal
// text padded with zero bytes to 16, the number of the next call.
//
// The file is updated in place under an exclusive lock, so that two servers
// working in one folder take turns; a replace-by-rename would let the
// second server lock a file the first one has already replaced.
#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstring>

#include "foundation/log.h"
#include "foundation/settings.h"
#include "serial/modem.h"
#include "serial_internal.h"

namespace ql {

namespace {

constexpr size_t kRecordSize = 16;
constexpr int kLockTries = 100;
constexpr uint32_t kLockRetryMs = 100;
constexpr long kLastNumber = 99999;

std::atomic<int32_t> g_call_number{0};

// Opens the counter file for reading and writing, creating it, with the
// exclusive lock; waits for another holder up to 100 tries of 100 ms.
// Returns the descriptor or -1.
int open_locked(const std::string& path) {
    for (int attempt = 0; attempt < kLockTries; ++attempt) {
        // Opened without waiting, and only a regular file is used.
        int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0666);
        if (fd < 0) return -1;
        struct stat st;
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            ::close(fd);
            return -1;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return fd;
        int error = errno;
        ::close(fd);
        if (error != EWOULDBLOCK) return -1;
        serial_detail::pause(kLockRetryMs);
    }
    return -1;
}

// The number a record holds: its leading decimal digits (0 without any).
long parse_number(const char* record, ssize_t length) {
    if (length <= 0) return 1;
    long number = 0;
    for (ssize_t i = 0; i < length && record[i] >= '0' && record[i] <= '9'; ++i) {
        number = number * 10 + (record[i] - '0');
        if (number > INT32_MAX) number = INT32_MAX;  // keep it a call number
    }
    return number;
}

}  // namespace

void next_call_number() {
    std::string path = effective_workdir() + kCallCounterFile;
    int fd = open_locked(path);
    if (fd < 0) {
        set_call_number(0);
        return;
    }
    char record[kRecordSize + 1] = {};
    ssize_t got = ::pread(fd, record, kRecordSize, 0);
    long number = parse_number(record, got);

    char next[kRecordSize] = {};
    std::string text = number < kLastNumber ? std::to_string(number + 1) : "1";
    std::memcpy(next, text.data(), text.size());  // at most 5 digits
    ssize_t written = ::pwrite(fd, next, kRecordSize, 0);
    int error = errno;
    ::close(fd);
    if (written < static_cast<ssize_t>(kRecordSize)) {
        log_event(strformat("Error Writing Call No: [%ld] RC=%d", long(call_number()),
                            written < 0 ? error : 0),
                  99, 0);
        number = 0;
    }
    set_call_number(static_cast<int32_t>(number));
    if (log_state().verbosity == 2)
        log_event(strformat("Call Number: [%ld]", long(call_number())), 0, 0);
}

int32_t call_number() {
    return g_call_number.load();
}

void set_call_number(int32_t number) {
    g_call_number = number;
}

}  // namespace ql
