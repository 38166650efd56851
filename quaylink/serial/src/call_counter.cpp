// The call counter: QLCALLNO.DAT in the working directory holds, as decimal
// text padded with zero bytes to 16, the number of the next call.
//
// The file is updated in place under an exclusive lock, so that two servers
// working in one folder take turns; a replace-by-rename would let the
// second server lock a file the first one has already replaced.
#include <atomic>
#include <climits>
#include <cstring>

#include "foundation/log.h"
#include "foundation/settings.h"
#include "platform/file_handle.h"
#include "serial/modem.h"
#include "serial_internal.h"

namespace ql {

namespace {

constexpr size_t kRecordSize = 16;
constexpr int kLockTries = 100;
constexpr uint32_t kLockRetryMs = 100;
constexpr long kLastNumber = 99999;

std::atomic<int32_t> g_call_number{0};

// Opens the counter file for reading and writing, creating it, held
// exclusively; waits for another holder up to 100 tries of 100 ms. Each
// open itself never waits, and only a regular file is used.
platform::FileHandle open_locked(const std::string& path) {
    for (int attempt = 0; attempt < kLockTries; ++attempt) {
        platform::FileHandle h = platform::kNoFile;
        bool busy = false;
        if (platform::file_open_exclusive(path, {.read = true}, h, busy) == 0) return h;
        if (!busy) break;
        serial_detail::pause(kLockRetryMs);
    }
    return platform::kNoFile;
}

// The number a record holds: its leading decimal digits (0 without any).
long parse_number(const char* record, size_t length) {
    if (length == 0) return 1;
    long number = 0;
    for (size_t i = 0; i < length && record[i] >= '0' && record[i] <= '9'; ++i) {
        number = number * 10 + (record[i] - '0');
        if (number > INT32_MAX) number = INT32_MAX;  // keep it a call number
    }
    return number;
}

}  // namespace

void next_call_number() {
    std::string path = effective_workdir() + kCallCounterFile;
    platform::FileHandle h = open_locked(path);
    if (h == platform::kNoFile) {
        set_call_number(0);
        return;
    }
    char record[kRecordSize + 1] = {};
    size_t got = 0;
    int error = platform::file_read_at(h, 0, record, kRecordSize, got);
    long number = parse_number(record, error == 0 ? got : 0);

    char next[kRecordSize] = {};
    std::string text = number < kLastNumber ? std::to_string(number + 1) : "1";
    std::memcpy(next, text.data(), text.size());  // at most 5 digits
    size_t written = 0;
    error = platform::file_write_at(h, 0, next, kRecordSize, written);
    platform::file_close(h);
    if (written < kRecordSize) {
        log_event(strformat("Error Writing Call No: [%ld] RC=%d", long(call_number()), error), 99,
                  0);
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
