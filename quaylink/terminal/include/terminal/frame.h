// Command frames from the terminal and reply frames to it.
//
// Command frame: STX, the command text (fields separated by commas), and
// one checksum byte (checksum8 of the text); at most 128 bytes, ended by a
// quiet line. Reply frame: a lead byte, a status character ('0', '1', '8'),
// the reply text and checksum8 of status and text; or the lead byte alone.
//
// The command loop reads with read_frame, which checks the frame, splits a
// good one into the field slots and does the logging and status-line
// updates; it then either carries the command out and answers with
// send_reply, or calls send_line_answer for everything that is not a good
// command frame.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/clock.h"
#include "serial/port.h"

namespace ql {

// Line control bytes shared by frames and block transfers.
namespace line {
inline constexpr uint8_t kSoh = 0x01;
inline constexpr uint8_t kStx = 0x02;
inline constexpr uint8_t kEot = 0x04;
inline constexpr uint8_t kAck = 0x06;
inline constexpr uint8_t kNak = 0x15;
inline constexpr uint8_t kCan = 0x18;
inline constexpr uint8_t kCrcRequest = 'C';
}  // namespace line

inline constexpr int kFrameMax = 128;      // bytes of a command frame
inline constexpr int kReplyTextMax = 124;  // reply text characters kept
inline constexpr int kFieldCount = 8;      // command word and fields 1-7
// A slot keeps what one frame can carry: a name or a folder the terminal
// sends is never cut short into another name (it used to be cut at 63).
inline constexpr int kFieldSlotSize = kFrameMax;  // a slot keeps 127 characters
inline constexpr uint32_t kFrameReadMs = 5000;
inline constexpr uint32_t kReplyPauseMs = 20;  // pause before every reply write

// Sum of count bytes as unsigned 8-bit values, low 8 bits kept. A count of
// zero or less gives 0.
uint8_t checksum8(const void* bytes, int count);

// The field slots: slot 0 is the command word, slots 1-7 fields 1-7. They
// keep the last good command until the next one is split. Communication
// thread only.
//
// Splits body into the slots: every slot is cleared first; characters go
// into the current slot until a comma or the end of the body (or a zero
// byte); a slot keeps at most kFieldSlotSize - 1 characters (more than a
// frame's body holds) and drops the rest of its field;
// after slot 7 the rest is ignored. Blanks are kept, empty fields give empty
// slots.
void split_command(std::string_view body);

// Slot index (0-7) as a terminated string; an index out of range gives "".
const char* field(int index);

// Writes a slot (commands that put defaults into fields before use); the
// value is cut to 63 characters. An index out of range is ignored.
void set_field(int index, std::string_view value);

// Empties all eight slots.
void fields_reset();

// The command text with its secret field (the password of FTP,OPEN, field
// 4; the login of IPCOMM,OPEN, field 3) replaced by kSecretMask when it is
// not empty, for every line that shows a whole command; any other text is
// returned unchanged. Words are matched as the dispatcher matches them (by
// their leading letters).
std::string mask_command_secret(std::string_view body);

// What read_frame found on the line.
enum class FrameKind {
    kIdle,           // nothing arrived within the wait (or the read failed)
    kCommand,        // STX and a correct checksum: the slots hold the command
    kChecksumError,  // STX but a wrong checksum: the slots are untouched
    kCancel,         // the terminal sent CAN: status line back to "READY"
    kModemEscape,    // "+++": ignored
    kNoCarrier,      // "NO CARRIER": the call has ended ("CALL ENDED" logged)
    kOther,          // anything else
};

struct Frame {
    FrameKind kind = FrameKind::kIdle;
    int count = 0;                  // bytes read
    char data[kFrameMax + 1] = {};  // bytes read, zero after the count
};

// Reads one frame (port_read of up to 128 bytes within wait_ms, no block
// hint) and classifies it. Logs "Bytes In[%d] STX[%x] %s" at verbosity 2;
// for a good command logs "%s %s %s" (word, field 1, field 2) at verbosity 1
// and shows the command word on the status line; for CAN shows "READY"; for
// "NO CARRIER" logs "CALL ENDED". Sends nothing. Returns frame.kind.
// CAN bytes followed by STX in one read (a terminal answering a cancelled
// upload, then sending its next command) are taken as kCancel and the
// bytes from the STX on are given back to the port for the next read.
// wake (optional) ends the wait early while nothing has arrived (kIdle).
FrameKind read_frame(Port* port, Frame& frame, uint32_t wait_ms = kFrameReadMs,
                     const platform::Event* wake = nullptr);

// Sends one reply: the lead byte, then, when status is not 0, the status
// character, text (cut at a zero byte and to 124 characters) and checksum8
// of status and text. A status of 0 sends the lead byte alone. Logs
// "Bytes Out[%d] STX[%x] %s" at verbosity 2, else "Error Out[...]" (an
// error line) for status '1'. Pauses 20 ms, then writes everything in one
// write. Returns the number of bytes of the reply (write errors are not
// reported).
int send_reply(Port* port, uint8_t lead, char status, std::string_view text);

// The answer to a frame that is not a good command: "1CHECK SUM ERROR"
// after a checksum error, a single NAK for "NO CARRIER" and other data, and
// nothing for idle, CAN and "+++". Returns the bytes sent.
int send_line_answer(Port* port, FrameKind kind);

// Pause before a reply; nullptr restores the system clock. For tests.
void frame_set_clock(platform::Clock* clock);

}  // namespace ql
