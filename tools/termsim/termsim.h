// The terminal simulator: plays a handheld terminal on a serial line. It
// sends command frames, decodes the server's replies, and moves files with
// SEND and RECV (the ACK handshake and the block transfer), so that a cradle
// or a server can be checked without a handheld.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>

#include "platform/serial.h"
#include "serial/port.h"

namespace termsim {

// A command frame: STX, the text, and the 8-bit sum of the text.
std::string command_frame(const std::string& text);

// A reply frame as read from the line.
struct Reply {
    bool present = false;      // anything arrived
    uint8_t lead = 0;          // STX, ACK, NAK, CAN ...
    char status = 0;           // '0', '1', '8'; 0 for a one-byte reply
    std::string text;          // reply text without status and checksum
    bool checksum_ok = false;  // a one-byte reply counts as checked
    std::string raw;           // every byte read

    // Status followed by text, as the server meant it.
    std::string line() const { return status == 0 ? std::string() : status + text; }
};

// Decodes the bytes of one reply.
Reply decode_reply(const std::string& bytes);

// One printable line for a reply: "STX 0 COPY SUCCESSFUL (checksum ok)",
// "CAN", "(no reply)".
std::string describe(const Reply& reply);

struct Options {
    uint32_t reply_wait_ms = 30000;  // how long to wait for each reply
    // Pause between the ACK and the transfer's first byte: the server reads
    // the ACK until the line is quiet for its inter-character delay, and a
    // start byte sent within that time would be taken as part of the ACK.
    uint32_t ack_pause_ms = 300;
};

// Runs commands one at a time on a port and prints what happens to out.
//
// A line is either the text of a command frame ("RECV,A.TXT") or an action:
//   :send LOCAL [REMOTE]  SEND,REMOTE,<size>, then ACK and the block transfer
//   :recv REMOTE [LOCAL]  RECV,REMOTE, then ACK and the block transfer
//   :raw HEX...           writes the bytes as they stand and prints the reply
//   :ack                  writes one ACK byte
//   :sleep MS             pauses
//   :expect TEXT          the last reply's status and text must equal TEXT
// Blank lines and lines starting with '#' are skipped.
class Terminal {
  public:
    Terminal(ql::Port* port, std::ostream& out, Options options);

    // Runs one line. false when it failed (no reply, a refused or failed
    // transfer, an unmet expectation, a malformed action).
    bool run(const std::string& line);

    // The reply to the last command.
    const Reply& last_reply() const { return last_; }

  private:
    Reply exchange(const std::string& bytes);
    bool send_file(const std::string& local, const std::string& remote);
    bool receive_file(const std::string& remote, const std::string& local);
    bool action(const std::string& line);

    ql::Port* port_;
    std::ostream& out_;
    Options options_;
    Reply last_;
};

// The program: termsim [options] DEVICE [LINE...]; returns the exit status.
int termsim_main(int argc, char** argv);

}  // namespace termsim
