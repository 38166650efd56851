// A Hayes-style modem on the serial line: initialisation, waiting for a
// call, hanging up, the trace of the dialogue, and the call counter.
//
// Every wait here is on the serial library's time scale (see
// serial_set_time_divisor in serial/port.h), so tests can shorten them.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "serial/port.h"

namespace ql {

// Modem status masks of modem_status.
inline constexpr unsigned kModemCts = 0x10;
inline constexpr unsigned kModemDsr = 0x20;
inline constexpr unsigned kModemRing = 0x40;
inline constexpr unsigned kModemCarrier = 0x80;  // receive line signal detect

// Directions of modem_trace.
inline constexpr int kToModem = 0;
inline constexpr int kFromModem = 1;

// Result of modem_wait_call when the stop request was seen.
inline constexpr int kModemStopped = 27;

// Name of the call counter file in the working directory.
inline constexpr const char* kCallCounterFile = "QLCALLNO.DAT";

// Sends the three init strings (empty slot 1 and 2 take the defaults, an
// empty slot 3 ends early), each ended with CR, and waits for each to be
// acknowledged ("OK", a numeric '0', an echo followed by either).
// 0 when all were acknowledged, -1 otherwise (also at once on a stop
// request: every pause and answer wait ends with it).
int modem_init(Port* port, const std::string (&init)[3]);

// Waits for an incoming call: shows "WAITING FOR CALL", polls ring and
// carrier every 250 ms. 0 when the modem reported CONNECT (the call is
// numbered), kModemStopped on the stop request, -1 when it rang but no
// CONNECT came within about 30 s.
int modem_wait_call(Port* port);

// Escapes to command mode ("+++") and hangs up ("ATH0"); the answer is
// traced, not checked. On a stop request the guard pauses and the answer's
// wait end at once and DTR is dropped as well (a hang-up that needs no
// guard time).
void modem_hangup(Port* port);

// The modem status bits of one mask (kModemCts ... kModemCarrier): the mask
// when the line is on, 0 when it is off, for any other mask or on error.
unsigned modem_status(Port* port, unsigned mask);

// Logs one trace line, "TO MODEM =   [...]" or "FROM MODEM = [...]", with
// only the printable characters (codes 32 to 125, at most 511) of text, when
// enabled is not 0.
void modem_trace(const std::string& text, int enabled, int direction);

// Advances the call counter file in the working directory and sets the call
// number to the number it held (0 when the file cannot be used).
void next_call_number();

// The number of the current call; 0 = no numbered call.
int32_t call_number();
void set_call_number(int32_t number);

// Starts clean: call number 0, no modem status source.
void modem_reset_state();

// Where modem_status takes the modem lines from (platform::ModemLines
// bits). Without a source (the default) the port's device is asked; a test
// whose line has no modem lines (a pseudo-terminal) supplies them here.
using ModemStatusSource = std::function<unsigned()>;
void set_modem_status_source(ModemStatusSource source);

}  // namespace ql
