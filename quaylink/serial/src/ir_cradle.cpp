// The baud-rate handshake with an infrared cradle.
//
// The cradle answers 0x0F to 0x0F only at the rate it is set to. The probe
// tries the rates it may be at, and once it has an answer tells the cradle
// the wanted rate: 0x07, a digit for the rate, then 'Q'.
#include "foundation/log.h"
#include "foundation/server_state.h"
#include "platform/files.h"
#include "serial_internal.h"

namespace ql {

namespace {

struct ProbeRate {
    int baud;
    uint32_t pause_ms;
};

constexpr ProbeRate kProbeRates[] = {
    {57600, 100}, {115200, 100}, {38400, 100}, {19200, 100}, {9600, 200}};
constexpr int kStartBaud = 38400;
constexpr uint32_t kSettleMs = 200;
constexpr uint32_t kProbeReadMs = 1000;
constexpr uint32_t kFinalMs = 300;
constexpr char kProbeByte = 0x0F;
constexpr char kSetCommand = 0x07;
constexpr char kQuit = 'Q';
// The operator stopped while the probe ran: no further rates, no retry.
constexpr int kProbeStopped = -20;

// The digit that selects a rate on the cradle, 0 for a rate it does not know.
char rate_digit(int baud) {
    switch (baud) {
        case 9600:
            return '2';
        case 19200:
            return '3';
        case 38400:
            return '4';
        case 57600:
            return '5';
        case 115200:
            return '6';
        default:
            return 0;
    }
}

void write_byte(Port* port, char byte) {
    port_write(port, &byte, 1);
}

// Tries each probe rate; returns the index of the rate the cradle answered
// at, -1 when none did, -10 when a rate could not be set, or kProbeStopped.
// A whole probe without a cradle takes about five seconds: every wait in it
// gives way to the stop request.
int find_cradle_rate(Port* port, platform::SerialConfig config) {
    const platform::Event& stop = server_state().stop_request.event();
    int index = 0;
    for (const ProbeRate& rate : kProbeRates) {
        config.baud = rate.baud;
        config.rts = false;
        if (port->device->configure(config) != 0) return -10;
        if (serial_detail::pause_unless_stopped(rate.pause_ms)) return kProbeStopped;
        write_byte(port, kProbeByte);
        if (serial_detail::pause_unless_stopped(rate.pause_ms)) return kProbeStopped;
        char answer[2] = {0, 0};
        int got = port_read(port, answer, 1, kProbeReadMs, kNoBlockHint, &stop);
        if (got == 1 && answer[0] == kProbeByte) return index;
        if (stop.is_set()) return kProbeStopped;
        ++index;
    }
    return -1;
}

// Tells the cradle, found at rate, to change to baud.
void set_cradle_rate(Port* port, const ProbeRate& rate, int baud) {
    if (log_state().verbosity == 2) log_event(strformat("Get Baud [%ld]", long(rate.baud)), 0, 0);
    serial_detail::pause(rate.pause_ms);
    write_byte(port, kSetCommand);
    serial_detail::pause(rate.pause_ms);
    if (char digit = rate_digit(baud)) write_byte(port, digit);
    serial_detail::pause(rate.pause_ms);
    write_byte(port, kQuit);
    serial_detail::pause(kFinalMs);
    if (log_state().verbosity == 2) log_event(strformat("Set Baud [%ld]", long(baud)), 0, 0);
}

}  // namespace

int ir_cradle_set_baud(int port_number, int baud) {
    std::unique_ptr<platform::SerialDevice> device;
    const std::string path = port_device_path(port_number);
    int error = platform::serial_open(path, device);
    if (error != 0) {
        serial_detail::log_open_error(error, path);
        return -1;
    }
    std::unique_ptr<Port> port(serial_detail::wrap(std::move(device)));
    platform::SerialConfig config;
    if (port->device->read_config(&config) != 0) {
        serial_detail::log_error("Comm GetCommState Error: %d", platform::last_error());
        return -3;
    }
    serial_detail::set_line_settings(config, kStartBaud);
    if (port->device->configure(config) != 0) {
        serial_detail::log_error("Comm SetCommState Error: %d", platform::last_error());
        return -4;
    }
    if (serial_detail::pause_unless_stopped(kSettleMs)) return kProbeStopped;
    int found = find_cradle_rate(port.get(), config);
    if (found == -10 || found == kProbeStopped) return found;
    if (found < 0) {
        log_event("IR Cradle Not Found", 99, 0);
        serial_detail::set_open_failure_reason(
            "no IR cradle answered on " + path +
            "; is the cradle plugged in and powered, with the terminal in it?");
        return -12;
    }
    set_cradle_rate(port.get(), kProbeRates[found], baud);
    return 0;
}

}  // namespace ql
