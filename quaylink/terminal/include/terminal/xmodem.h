// Block file transfer with the terminal: 128-byte blocks with an 8-bit
// checksum, 128- or 1024-byte blocks with CRC-16 (the XMODEM family).
//
// Runs on the communication thread, one transfer at a time, on the port the
// command loop hands over after the reply to SEND or RECV. Progress goes to
// show_progress (kind 0 sending, 1 receiving), results to the activity log.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/beneath.h"
#include "serial/port.h"

namespace ql {

// Result codes of xm_send and xm_recv.
namespace xm_result {
inline constexpr int kOk = 0;
inline constexpr int kUnexpectedStart = -1;  // receive: odd first byte at the start
inline constexpr int kOpenFailed = -2;       // file cannot be opened or created
inline constexpr int kFileRead = -103;       // send: file cannot be read
inline constexpr int kNoBlock = -103;        // receive: nothing after 10 answers
inline constexpr int kFileWrite = -104;      // receive: file cannot be written
inline constexpr int kNoBuffer = -106;       // block buffer cannot be allocated
inline constexpr int kCancelled = -200;      // CAN during the transfer
inline constexpr int kEotFailed = -201;      // send: EOT not acknowledged
inline constexpr int kRetries = -203;        // block rejected (NAK) 10 times / 10 bad blocks
inline constexpr int kNoStart = -999;        // no start, or block unanswered 10 times
}  // namespace xm_result

// Waits of the protocol. Tests shorten them; the defaults are the line
// protocol's own.
struct XmTiming {
    uint32_t start_wait_ms = 30000;  // sender: first byte from the receiver
    uint32_t answer_wait_ms = 5000;  // every later answer, block or prompt reply
    uint32_t modem_pause_ms = 35;    // before each block or prompt on a modem line
};

// Builds the CRC-16 table (polynomial 0x1021). The communication thread calls
// it once when it starts; xm_send and xm_recv build it themselves when that
// has not happened yet.
void crc16_table_init();

// CRC-16/XMODEM (initial value 0, no reflection, no final XOR) of count
// bytes.
uint16_t crc16(const void* data, size_t count);

// Sends the file at path to the terminal. one_k 0: 128-byte blocks only;
// otherwise 1024-byte blocks when the receiver starts with 'C' (128-byte
// blocks for the last 895 bytes or fewer). The last block is filled with
// pad. Returns 0 or an xm_result code; writes one CAN to the peer when a
// block fails or the file cannot be read.
int xm_send(Port* line, const std::string& path, int one_k, uint8_t pad);

// The same for a file opened already (when the terminal's name was
// checked): file is read from its start and closed (set to kNoFile); path
// is the name shown and logged.
int xm_send_handle(Port* line, platform::FileHandle& file, const std::string& path, int one_k,
                   uint8_t pad);

// A folder held open when the terminal's name was checked, and the name the
// received file gets in it.
struct XmHeld {
    const platform::HeldFolder* dir = nullptr;
    std::string leaf;
};

// Receives a file from the terminal into path. crc_1k not 0: start by asking
// for CRC (1024-byte blocks accepted), falling back to checksum after three
// silent prompts; 0: checksum only. announced_size (0 = unknown) trims the
// file to that size; without it the last block is kept whole. A block sent
// again right after it was accepted (the sender missed the ACK) is
// acknowledged again and its bytes dropped; any other out-of-order block is
// rejected with NAK.
// The data goes to a temporary file in the same folder. At the end of file
// it is flushed, synced and renamed over path, and only then is the EOT
// acknowledged: an ACK means the file is in place. When that commit fails
// the EOT is answered with NAK and the sender's repeated EOT with CAN, an
// error line says why, and the result is -104. A failed receive leaves the
// previous file untouched and nothing else behind. With held, the file is
// made in that folder under that name whatever has become of path (which
// is then only shown and logged), after the stale temporary files left
// there by a crash are removed. Returns 0 or an xm_result code.
int xm_recv(Port* line, const std::string& path, int crc_1k, int64_t announced_size,
            const XmHeld* held = nullptr);

// The debug flag, handed over by the communication thread when it starts:
// while set, the detailed failure lines are logged.
void xm_set_debug(int on);
int xm_debug();

// Replaces the waits (tests).
void xm_set_timing(const XmTiming& timing);

// Starts clean: default waits, debug flag off.
void xm_reset();

}  // namespace ql
