// Windows implementation of platform/serial.h on a COM port opened for
// overlapped I/O.
//
// A read waits for its first byte with one overlapped ReadFile of a single
// byte under the port's total time-out (COMMTIMEOUTS: no interval time-out,
// no multiplier, the caller's time-out as the constant), then takes what
// else the driver has queued (ClearCommError's count) without waiting. The
// driver's own "return at once with what is there" mode (MAXDWORD interval)
// is not used: some drivers, and wine, wait out the whole total in it.
//
// Overlapped I/O lets a read wait on the port and on a platform::Event at
// once, and lets a wait that must end early cancel the read. A byte that
// a cancelled read had already taken is kept for the next read.
#include <windows.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "event_impl.h"
#include "platform/serial.h"
#include "win32_support.h"

namespace platform {

namespace {

// Driver queue sizes the port asks for.
constexpr DWORD kQueueBytes = 2048;

// A write that makes no progress for this long gives up, so a line that
// never drains (flow control held off, a peer that stopped reading) cannot
// hold the caller forever. Writes go out in pieces of at most one queue.
constexpr DWORD kWriteStallMs = 30000;

// How often drain looks at the driver's output queue.
constexpr DWORD kDrainPollMs = 10;

// How long past its own time-out a read may stay pending before it is
// cancelled: a driver that ignores COMMTIMEOUTS cannot hold the caller.
constexpr DWORD kReadSlackMs = 2000;

// Errors that say the device has gone away for good on this handle: an
// unplugged USB adapter, a removed device, or (under wine) a pseudo-terminal
// whose other end was closed.
bool line_gone_error(DWORD code) {
    switch (code) {
        case ERROR_BAD_COMMAND:
        case ERROR_DEVICE_REMOVED:
        case ERROR_DEVICE_NOT_CONNECTED:
        case ERROR_INVALID_HANDLE:
        case ERROR_GEN_FAILURE:
        case ERROR_ACCESS_DENIED:
        case ERROR_BROKEN_PIPE:
        case ERROR_NOT_READY:
        case ERROR_OPERATION_ABORTED:  // only reached when we did not cancel
            return true;
        default:
            return false;
    }
}

// Devices without modem lines (a pseudo-terminal under wine, some virtual
// ports) answer the modem-line requests with one of these. Wine's
// GetCommModemStatus fails there without setting an error at all.
bool no_modem_lines(DWORD code) {
    return code == ERROR_NOT_SUPPORTED || code == ERROR_INVALID_FUNCTION || code == ERROR_SUCCESS;
}

// Turns "COM5", "com5", "\\.\COM5" or "//./COM5" into the device namespace
// form "\\.\COM5", which also reaches ports above 9. Other names (a driver's
// own device name) are passed on with '/' read as '\'.
std::wstring device_name(const std::string& path) {
    std::string name = path;
    for (char& c : name) {
        if (c == '/') c = '\\';
    }
    if (name.size() > 3 && _strnicmp(name.c_str(), "COM", 3) == 0 &&
        name.find('\\') == std::string::npos)
        name = "\\\\.\\" + name;
    return win32::widen(name);
}

// The lowest SerialConfig byte size the DCB can carry.
BYTE byte_size(int data_bits) {
    return static_cast<BYTE>(data_bits >= 5 && data_bits <= 8 ? data_bits : 8);
}

// Raw mode and the settings of config in a device control block. Fields
// the configuration does not name keep the driver's values, except those
// that would change the bytes or stop the port on a line error.
void apply_line_settings(DCB& dcb, const SerialConfig& config) {
    dcb.BaudRate = static_cast<DWORD>(config.baud);
    dcb.ByteSize = byte_size(config.data_bits);
    dcb.Parity = config.parity ? EVENPARITY : NOPARITY;
    dcb.fParity = config.parity ? TRUE : FALSE;
    dcb.StopBits = config.stop_bits == 2 ? TWOSTOPBITS : ONESTOPBIT;
    dcb.fOutxCtsFlow = config.cts_flow ? TRUE : FALSE;
    dcb.fOutxDsrFlow = config.dsr_flow ? TRUE : FALSE;
    dcb.fDtrControl = config.dtr ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
    dcb.fRtsControl = config.rts ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;
    dcb.fBinary = TRUE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fDsrSensitivity = FALSE;
    // With abort-on-error a framing error would fail every later read
    // until ClearCommError, which would look like a lost line.
    dcb.fAbortOnError = FALSE;
}

class Win32Serial final : public SerialDevice {
  public:
    Win32Serial(HANDLE handle, HANDLE read_done, HANDLE write_done)
        : handle_(handle), read_done_(read_done), write_done_(write_done) {}
    ~Win32Serial() override {
        CancelIoEx(handle_, nullptr);
        CloseHandle(handle_);
        CloseHandle(read_done_);
        CloseHandle(write_done_);
    }
    Win32Serial(const Win32Serial&) = delete;
    Win32Serial& operator=(const Win32Serial&) = delete;

    int configure(const SerialConfig& config) override {
        if (config.baud < 1) {  // drivers differ on it; wine takes it
            errno = EINVAL;
            return -1;
        }
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        if (!GetCommState(handle_, &dcb)) return fail();
        apply_line_settings(dcb, config);
        if (!SetCommState(handle_, &dcb)) return fail();
        return set_lines(config.dtr, config.rts);
    }

    int read_config(SerialConfig* config) override {
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        if (!GetCommState(handle_, &dcb)) return fail();
        config->baud = static_cast<int>(dcb.BaudRate);
        config->data_bits = dcb.ByteSize >= 5 && dcb.ByteSize <= 8 ? dcb.ByteSize : 8;
        config->parity = dcb.Parity != NOPARITY;
        config->stop_bits = dcb.StopBits == TWOSTOPBITS ? 2 : 1;
        config->cts_flow = dcb.fOutxCtsFlow != FALSE;
        config->dsr_flow = dcb.fOutxDsrFlow != FALSE;
        config->dtr = dcb.fDtrControl != DTR_CONTROL_DISABLE;
        config->rts = dcb.fRtsControl != RTS_CONTROL_DISABLE;
        return 0;
    }

    int read(void* buffer, size_t max, int timeout_ms) override {
        return read_waiting(static_cast<char*>(buffer), max, timeout_ms, nullptr);
    }

    int read_unless(void* buffer, size_t max, int timeout_ms, const Event& wake) override {
        if (wake.is_set()) return 0;
        HANDLE wake_handle = static_cast<HANDLE>(wake.impl().handle);
        if (wake_handle == nullptr) return SerialDevice::read_unless(buffer, max, timeout_ms, wake);
        return read_waiting(static_cast<char*>(buffer), max, timeout_ms, wake_handle);
    }

    bool lost() const override { return lost_; }

    int write(const void* data, size_t count) override {
        const char* p = static_cast<const char*>(data);
        size_t done = 0;
        while (done < count) {
            if (lost_) return line_gone();
            DWORD piece =
                static_cast<DWORD>(count - done < kQueueBytes ? count - done : kQueueBytes);
            DWORD n = 0;
            if (write_piece(p + done, piece, &n) != 0) return -1;
            done += n;
        }
        return static_cast<int>(done);
    }

    int modem_status(unsigned* lines) override {
        *lines = 0;
        DWORD bits = 0;
        SetLastError(ERROR_SUCCESS);
        if (!GetCommModemStatus(handle_, &bits)) {
            DWORD code = GetLastError();
            if (no_modem_lines(code)) return 0;
            return fail(code);
        }
        if (bits & MS_CTS_ON) *lines |= kLineCts;
        if (bits & MS_DSR_ON) *lines |= kLineDsr;
        if (bits & MS_RING_ON) *lines |= kLineRing;
        if (bits & MS_RLSD_ON) *lines |= kLineCarrier;
        return 0;
    }

    int drain() override {
        // FlushFileBuffers waits without a limit while flow control holds
        // the line, so first watch the driver's output queue go down, with
        // the same stall limit as a write; then let it finish the rest.
        DWORD left = 0;
        if (output_queued(&left) != 0) return -1;
        DWORD stalled_since = GetTickCount();
        while (left > 0) {
            Sleep(kDrainPollMs);
            DWORD now_left = 0;
            if (output_queued(&now_left) != 0) return -1;
            if (now_left < left) stalled_since = GetTickCount();
            left = now_left;
            if (left > 0 && GetTickCount() - stalled_since >= kWriteStallMs) {
                errno = ETIMEDOUT;
                return -1;
            }
        }
        if (!FlushFileBuffers(handle_)) return fail();
        return 0;
    }

  private:
    // Bytes written but not yet sent by the driver.
    int output_queued(DWORD* count) {
        DWORD errors = 0;
        COMSTAT status{};
        if (!ClearCommError(handle_, &errors, &status)) return fail();
        *count = status.cbOutQue;
        return 0;
    }

    // The wait behind read and read_unless (wake may be null).
    int read_waiting(char* buffer, size_t max, int timeout_ms, HANDLE wake) {
        if (max == 0) return 0;
        if (!pending_.empty()) return take_pending(buffer, max);
        if (lost_) return line_gone();
        int n = take_queued(buffer, max);
        if (n != 0 || timeout_ms <= 0) return n;
        n = wait_first_byte(buffer, static_cast<DWORD>(timeout_ms), wake);
        if (n <= 0) return n;
        int more = take_queued(buffer + 1, max - 1);
        return more < 0 ? 1 : 1 + more;
    }

    // Bytes a cancelled read had taken, handed out first.
    int take_pending(char* buffer, size_t max) {
        size_t n = pending_.size() < max ? pending_.size() : max;
        std::memcpy(buffer, pending_.data(), n);
        pending_.erase(0, n);
        return static_cast<int>(n);
    }

    // Reads what the driver already holds (at most max) without waiting:
    // asking for no more than is queued completes at once.
    int take_queued(char* buffer, size_t max) {
        DWORD errors = 0;
        COMSTAT status{};
        if (!ClearCommError(handle_, &errors, &status)) return fail();
        DWORD want = status.cbInQue < max ? status.cbInQue : static_cast<DWORD>(max);
        if (want == 0) return 0;
        DWORD n = 0;
        int rc = overlapped_read(buffer, want, kReadSlackMs, nullptr, &n);
        return rc < 0 ? -1 : static_cast<int>(n);
    }

    // Waits up to timeout_ms for one byte (or for wake). Returns 1, 0 on
    // time-out or wake-up, -1 on error.
    int wait_first_byte(char* buffer, DWORD timeout_ms, HANDLE wake) {
        if (set_read_timeout(timeout_ms) != 0) return -1;
        DWORD n = 0;
        DWORD limit =
            timeout_ms > INFINITE - kReadSlackMs ? INFINITE - 1 : timeout_ms + kReadSlackMs;
        int rc = overlapped_read(buffer, 1, limit, wake, &n);
        if (rc < 0) return -1;
        return n > 0 ? 1 : 0;
    }

    // One overlapped ReadFile of want bytes. Waits for its completion up to
    // limit_ms, and also for wake when it is given; a wait that ends first
    // cancels the read, and a byte it had taken goes to pending_ (*got is
    // then 0). Returns 0 (a time-out of the port is a read of 0 bytes) or -1.
    int overlapped_read(char* buffer, DWORD want, DWORD limit_ms, HANDLE wake, DWORD* got) {
        OVERLAPPED ov{};
        ov.hEvent = read_done_;
        ResetEvent(read_done_);
        *got = 0;
        if (!ReadFile(handle_, buffer, want, nullptr, &ov)) {
            DWORD code = GetLastError();
            if (code != ERROR_IO_PENDING) return fail(code);
            HANDLE objects[2] = {read_done_, wake};
            DWORD woke = WaitForMultipleObjects(wake ? 2 : 1, objects, FALSE, limit_ms);
            if (woke != WAIT_OBJECT_0) return cancel_read(&ov, buffer);
        }
        if (!GetOverlappedResult(handle_, &ov, got, FALSE)) {
            DWORD code = GetLastError();
            *got = 0;
            // Some drivers (and wine) end a read that met its total
            // time-out with a time-out status rather than a count of 0.
            if (code == ERROR_TIMEOUT || code == ERROR_SEM_TIMEOUT || code == WAIT_TIMEOUT)
                return 0;
            return fail(code);
        }
        return 0;
    }

    // Cancels the pending read on ov and waits for it to end; what it had
    // already read stays for the next read.
    int cancel_read(OVERLAPPED* ov, const char* buffer) {
        // Only this read: a write another thread has under way goes on.
        CancelIoEx(handle_, ov);
        DWORD n = 0;
        if (GetOverlappedResult(handle_, ov, &n, TRUE) ||
            GetLastError() == ERROR_OPERATION_ABORTED) {
            if (n > 0) pending_.append(buffer, n);
            return 0;
        }
        return fail(GetLastError());
    }

    // Writes one piece; *written is what the driver took. 0 or -1.
    int write_piece(const char* data, DWORD count, DWORD* written) {
        OVERLAPPED ov{};
        ov.hEvent = write_done_;
        ResetEvent(write_done_);
        *written = 0;
        if (!WriteFile(handle_, data, count, nullptr, &ov)) {
            DWORD code = GetLastError();
            if (code != ERROR_IO_PENDING) return fail(code);
            if (WaitForSingleObject(write_done_, kWriteStallMs) != WAIT_OBJECT_0) {
                // The line never took the bytes: drop them from the driver
                // so the next write does not queue behind them.
                CancelIoEx(handle_, &ov);
                GetOverlappedResult(handle_, &ov, written, TRUE);
                PurgeComm(handle_, PURGE_TXABORT | PURGE_TXCLEAR);
                errno = ETIMEDOUT;
                return -1;
            }
        }
        if (!GetOverlappedResult(handle_, &ov, written, FALSE)) return fail(GetLastError());
        if (*written == 0) {
            // A write that ends without sending anything and without an
            // error would spin the caller's loop.
            errno = EIO;
            return -1;
        }
        return 0;
    }

    // Puts timeout_ms as the total read time-out (no interval, no
    // multiplier) unless it already is. Writes have no driver time-out:
    // write_piece keeps its own.
    int set_read_timeout(DWORD timeout_ms) {
        if (timeouts_set_ && timeout_ms == read_timeout_) return 0;
        COMMTIMEOUTS t{};
        t.ReadIntervalTimeout = 0;
        t.ReadTotalTimeoutMultiplier = 0;
        t.ReadTotalTimeoutConstant = timeout_ms;
        if (!SetCommTimeouts(handle_, &t)) return fail();
        read_timeout_ = timeout_ms;
        timeouts_set_ = true;
        return 0;
    }

    // Raises or drops DTR and RTS; a device without modem lines accepts it.
    int set_lines(bool dtr, bool rts) {
        if (!escape(dtr ? SETDTR : CLRDTR) || !escape(rts ? SETRTS : CLRRTS)) return fail();
        return 0;
    }

    bool escape(DWORD function) {
        SetLastError(ERROR_SUCCESS);
        if (EscapeCommFunction(handle_, function)) return true;
        DWORD code = GetLastError();
        if (no_modem_lines(code)) return true;
        SetLastError(code);
        return false;
    }

    int fail() { return fail(GetLastError()); }

    int fail(DWORD code) {
        if (line_gone_error(code)) return line_gone();
        errno = win32::errno_from_win32(code);
        return -1;
    }

    int line_gone() {
        lost_ = true;
        errno = EIO;
        return -1;
    }

    HANDLE handle_;
    HANDLE read_done_;   // manual-reset event of the overlapped reads
    HANDLE write_done_;  // and of the writes
    std::string pending_;
    DWORD read_timeout_ = 0;
    bool timeouts_set_ = false;
    bool lost_ = false;
};

// The error number for a failed open of a COM port: another holder shows as
// access denied (or a sharing violation), which callers know as EBUSY.
int open_error(DWORD code) {
    if (code == ERROR_ACCESS_DENIED || code == ERROR_SHARING_VIOLATION) return EBUSY;
    return win32::errno_from_win32(code);
}

// A port left with abort-on-error by its last user fails every read after
// a framing or overrun error until ClearCommError, which would look like a
// lost line before configure() clears it. Line settings that cannot be read
// are left for configure() to report.
void keep_reading_after_line_errors(HANDLE handle) {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(handle, &dcb) || !dcb.fAbortOnError) return;
    dcb.fAbortOnError = FALSE;
    SetCommState(handle, &dcb);
}

// Closes what serial_open made so far and returns the error number of code.
int abandon(HANDLE handle, HANDLE a, HANDLE b, DWORD code) {
    CloseHandle(handle);
    if (a) CloseHandle(a);
    if (b) CloseHandle(b);
    int error = win32::errno_from_win32(code);
    errno = error;
    return error;
}

}  // namespace

int serial_open(const std::string& device_path, std::unique_ptr<SerialDevice>& out) {
    // Sharing mode 0: no other handle to the port while this one is open.
    // Not inherited by the programs the server starts.
    HANDLE handle = CreateFileW(device_name(device_path).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        int error = open_error(GetLastError());
        errno = error;
        return error;
    }
    HANDLE read_done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE write_done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (read_done == nullptr || write_done == nullptr)
        return abandon(handle, read_done, write_done, GetLastError());
    if (!SetupComm(handle, kQueueBytes, kQueueBytes))
        return abandon(handle, read_done, write_done, GetLastError());
    // No driver time-outs on writes; reads get theirs per call.
    COMMTIMEOUTS t{};
    if (!SetCommTimeouts(handle, &t)) return abandon(handle, read_done, write_done, GetLastError());
    keep_reading_after_line_errors(handle);
    out = std::make_unique<Win32Serial>(handle, read_done, write_done);
    return 0;
}

std::string serial_open_advice(int error, const std::string& device_path) {
    switch (error) {
        case ENOENT:
        case ENODEV:
        case ENXIO:
            return device_path + ": no such port; is the cradle plugged in?";
        case EBUSY:
            return device_path + " is in use by another program; close it or choose another port";
        case EACCES:
        case EPERM:
            return "access denied: run as a user allowed to use " + device_path;
        default:
            return device_path + ": " + std::strerror(error);
    }
}

}  // namespace platform
