// Modem control: initialisation, the call wait, hang-up and the trace.
#include "serial/modem.h"

#include <atomic>
#include <mutex>

#include "foundation/line_status.h"
#include "foundation/log.h"
#include "foundation/operator_view.h"
#include "foundation/server_state.h"
#include "serial_internal.h"

namespace ql {

namespace {

constexpr int kReadMax = 512;
constexpr uint32_t kReadTimeoutMs = 10000;
constexpr uint32_t kAfterWriteMs = 1000;
constexpr uint32_t kCallWaitStartMs = 1000;
constexpr uint32_t kPollMs = 250;
constexpr int kRingsBeforeCounting = 2;
constexpr int kPollsAfterRings = 120;
constexpr uint32_t kEscapeGuardMs = 500;
constexpr uint32_t kHangupGuardMs = 1500;
constexpr size_t kTraceMax = 511;
const char* const kDefaultInit[2] = {"AT&F\r", "ATE0V1X4S0=2\r"};

std::mutex g_source_mutex;
ModemStatusSource g_status_source;

// One answer of the modem (up to 512 bytes within 10 s); empty on silence,
// and at once on a stop request: a silent modem must not keep the program
// from ending.
std::string read_answer(Port* port) {
    char buffer[kReadMax + 1];
    int n = port_read(port, buffer, kReadMax, kReadTimeoutMs, kNoBlockHint,
                      &server_state().stop_request.event());
    return std::string(buffer, static_cast<size_t>(n > 0 ? n : 0));
}

void send(Port* port, const std::string& text) {
    port_write(port, text.data(), static_cast<int>(text.size()));
    modem_trace(text, log_state().debug, kToModem);
}

// The string sent for slot i, or empty when the initialisation ends here.
std::string init_string(const std::string (&init)[3], int slot) {
    std::string text = init[slot];
    if (text.empty()) {
        if (slot == 2) return std::string();
        text = kDefaultInit[slot];
    }
    if (text.back() != '\r') text += '\r';
    return text;
}

// Waits for the acknowledgement of sent; the modem may echo it first.
bool acknowledged(Port* port, const std::string& sent) {
    for (;;) {
        std::string answer = read_answer(port);
        if (answer.empty()) return false;
        modem_trace(answer, log_state().debug, kFromModem);
        if (answer.find("OK") != std::string::npos) return true;
        if (answer[0] == '0') return true;
        if (answer.find(sent) == std::string::npos) return false;
    }
}

// Reads what the modem says about a ring or a carrier; true on CONNECT.
bool connected(Port* port, int trace_enabled) {
    std::string answer = read_answer(port);
    if (answer.empty()) return false;
    modem_trace(answer, trace_enabled, kFromModem);
    return answer.find("CONNECT") != std::string::npos;
}

void drop_dtr(Port* port) {
    platform::SerialDevice* device = port_device(port);
    platform::SerialConfig config;
    if (device == nullptr || device->read_config(&config) != 0) return;
    config.dtr = false;
    device->configure(config);
}

unsigned modem_lines(Port* port) {
    {
        std::lock_guard<std::mutex> lock(g_source_mutex);
        if (g_status_source) return g_status_source();
    }
    platform::SerialDevice* device = port_device(port);
    unsigned lines = 0;
    if (device == nullptr || device->modem_status(&lines) != 0) return 0;
    return lines;
}

}  // namespace

int modem_init(Port* port, const std::string (&init)[3]) {
    for (int slot = 0; slot < 3; ++slot) {
        std::string text = init_string(init, slot);
        if (text.empty()) return 0;
        send(port, text);
        if (serial_detail::pause_unless_stopped(kAfterWriteMs)) return -1;
        if (!acknowledged(port, text)) return -1;
    }
    return 0;
}

int modem_wait_call(Port* port) {
    set_call_number(0);
    int rings = 0;
    int polls = 0;
    // The waits between polls end at once on a stop request.
    serial_detail::pause_unless_stopped(kCallWaitStartMs);
    operator_view().set_text(item::kStatusLine, "WAITING FOR CALL");
    line_status_state(LineState::kWaitingForCall);
    for (;;) {
        if (server_state().stop_request.load()) return kModemStopped;
        if (modem_status(port, kModemRing)) {
            ++rings;
            if (connected(port, log_state().debug)) {
                next_call_number();
                return 0;
            }
        }
        if (modem_status(port, kModemCarrier) && connected(port, 1)) {
            next_call_number();
            return 0;
        }
        serial_detail::pause_unless_stopped(kPollMs);
        if (rings >= kRingsBeforeCounting && ++polls >= kPollsAfterRings) return -1;
    }
}

void modem_hangup(Port* port) {
    // A stop cuts the escape's guard times short (the program must end
    // within a second), and a modem may then miss the escape: DTR is
    // dropped as well, which hangs up a modem without any guard time.
    bool stopped = serial_detail::pause_unless_stopped(kEscapeGuardMs);
    send(port, "+++");
    stopped = serial_detail::pause_unless_stopped(kHangupGuardMs) || stopped;
    send(port, "ATH0\r");
    modem_trace(read_answer(port), log_state().debug, kFromModem);
    if (stopped) drop_dtr(port);
}

unsigned modem_status(Port* port, unsigned mask) {
    unsigned lines = modem_lines(port);
    switch (mask) {
        case kModemCts:
            return (lines & platform::kLineCts) ? mask : 0;
        case kModemDsr:
            return (lines & platform::kLineDsr) ? mask : 0;
        case kModemRing:
            return (lines & platform::kLineRing) ? mask : 0;
        case kModemCarrier:
            return (lines & platform::kLineCarrier) ? mask : 0;
        default:
            return 0;
    }
}

void modem_trace(const std::string& text, int enabled, int direction) {
    if (enabled == 0) return;
    std::string shown;
    for (char c : text) {
        unsigned char byte = static_cast<unsigned char>(c);
        if (byte >= 32 && byte <= 125 && shown.size() < kTraceMax) shown += c;
    }
    const char* format = direction == kToModem ? "TO MODEM =   [%s]" : "FROM MODEM = [%s]";
    log_event(strformat(format, shown.c_str()), 0, 0);
}

void modem_reset_state() {
    set_call_number(0);
    set_modem_status_source(nullptr);
}

void set_modem_status_source(ModemStatusSource source) {
    std::lock_guard<std::mutex> lock(g_source_mutex);
    g_status_source = std::move(source);
}

}  // namespace ql
