// The command loop: serves a terminal on an open port for the length of one
// connection or call. Each pass reads one command frame, recognises its
// command word, carries the command out (local file and program commands,
// FTP and relay requests through the bridges, line control here), sends the
// one reply frame and, after SEND or RECV and the terminal's ACK, runs the
// block transfer.
//
// Command words are recognised by their leading characters only (LINESTOPX
// is LINESTOP, DIRX is DIR); where a word fits two rows (COPYD fits COPY
// and COPYD) the later row is the command. The same holds for the
// sub-commands of FTP and IPCOMM.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "serial/port.h"
#include "terminal/commands.h"

namespace ql {

// Results of serve_terminal.
inline constexpr int kServeStopped = 27;   // stop request seen, or LINESTOP answered
inline constexpr int kServeCallEnded = 1;  // "NO CARRIER", a silent modem line, a lost USB device

// Serves the terminal on port until the stop request (seen while the line
// is idle), LINESTOP, "NO CARRIER", on a modem line seven idle reads in a
// row ("ERROR CALL LOST"), or on a USB port the device going away ("USB
// DEVICE LOST"). Returns kServeStopped or kServeCallEnded (the last three).
// The read between frames ends within moments of a stop request; a
// command or transfer under way is finished first. A line that has gone
// away is read no faster than a quiet one. Communication thread only; the
// port stays open. Every wait, the pause before a file is received
// included, follows the serial link's time scale (serial_set_time_divisor).
int serve_terminal(Port* port);

// ---- Tables (exposed for tests) ---------------------------------------------

enum class Command {
    kNone,
    kLinebid,
    kLinestop,
    kGetcallno,
    kCwd,
    kDatetime,
    kSend,
    kRecv,
    kDir,
    kCopy,
    kCopyGiven,
    kAppend,
    kAppendGiven,
    kDelete,
    kDeleteGiven,
    kLoad,
    kLoadGiven,
    kSystem,
    kExec,
    kExecGiven,
    kStat,
    kFtp,
    kIpcomm,
};

// The command a command word names: the last row of the command table whose
// keyword's leading characters (as many as the row compares) begin the
// word; kNone when no row fits.
Command lookup_command(const std::string& word);

// How a sub-command's field 2 becomes the name in the request:
// plain = unchanged; local = working directory + field 2; transfer = as
// local, and an empty field 3 (the remote name) takes field 2 first.
enum class NameMode { kPlain, kLocal, kTransfer };

struct SubCommand {
    const char* word;
    int bytes;  // leading characters compared
    const char* code;
    NameMode mode;
};

// The FTP (or IPCOMM) sub-command that field 1 names: the last fitting row;
// nullptr when none fits.
const SubCommand* ftp_subcommand(const std::string& word);
const SubCommand* relay_subcommand(const std::string& word);

// Fields 0-7 of a command frame.
using Fields = std::array<std::string, 8>;

// An FTP request built from the fields.
struct FtpRequest {
    std::string text;      // "code[,name[,field 3[,field 4]]]"
    int passive = 0;       // passive setting, or field 5 for OPEN
    int control_port = 0;  // field 6 for OPEN (0 = leave the port alone)
    bool open = false;     // the sub-command is OPEN
};

// Builds the FTP request for fields (field 1 the sub-command). Fills a
// transfer-mode field 3 into f. false when field 1 names no sub-command.
bool build_ftp_request(const std::string& workdir, Fields& f, FtpRequest& out);

// Builds the relay request for fields; OPEN first fills its empty host
// (field 2) from iphost, login text (field 3) from ipuser and port (field 4)
// from ipport, writing them into f. false when field 1 names no
// sub-command.
bool build_relay_request(const std::string& workdir, Fields& f, std::string& out);

}  // namespace ql
