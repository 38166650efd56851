// The line's status for monitoring: its state, the current command and
// transfer, the last frame from the terminal, counters since the program
// started and the last error, kept in memory and published as a status file
// (JSON, docs/monitoring.md) and, when asked for, a metrics file in the
// Prometheus text format.
//
// The server feeds it from the places that already report to the operator
// (status line, progress display, activity log). Feeding only updates
// memory; a writer thread publishes the files: at once after a change of
// state or counter, once a second while only a transfer's byte count moves
// (a count held back goes out when its second is up), and never while
// nothing changes (it sleeps without a timer). No call blocks on the disk.
// Every call may come from any thread.
#pragma once

#include <cstdint>
#include <string>

namespace ql {

enum class LineState {
    kStarting,
    kWaitUsb,
    kWaitingForCall,
    kReady,
    kBusy,
    kTransfer,
    kOffline,
    kFailed,
    kEnded,
};
inline constexpr int kLineStateCount = 9;

// "STARTING", "WAIT USB", "WAITING FOR CALL", "READY", "BUSY", "TRANSFER",
// "OFFLINE", "FAILED", "ENDED".
const char* line_state_name(LineState state);

// Where a transfer's bytes come from or go to, beside the server.
enum class TransferPeer { kTerminal, kRelay, kFtp };
enum class NetworkKind { kFtp, kRelay };

struct LineCounters {
    int64_t sessions = 0;  // connections served (calls on a modem line)
    int64_t commands = 0;
    int64_t commands_failed = 0;  // failure replies and unknown command words
    int64_t files_received = 0, files_sent = 0;
    int64_t bytes_received = 0, bytes_sent = 0;
    int64_t ftp_operations = 0, ftp_failures = 0;
    int64_t relay_operations = 0, relay_failures = 0;
    int64_t line_errors = 0;  // bad checksums of frames and blocks, refused blocks
};

// A copy of everything published. Times are seconds since 1970 (UTC), 0
// for never.
struct LineStatus {
    std::string name, version, connect, port;
    int pid = 0;
    int64_t started = 0, updated = 0;
    LineState state = LineState::kStarting;
    int64_t state_since = 0;
    std::string command;  // word of the command being carried out
    bool transferring = false;
    bool transfer_in = false;  // the server receives
    TransferPeer transfer_peer = TransferPeer::kTerminal;
    std::string transfer_file;
    int64_t transfer_done = 0, transfer_total = 0, transfer_rate = 0;  // rate: bytes/s
    int64_t last_frame_time = 0;
    std::string last_frame_command;
    long call_number = 0;
    LineCounters counters;
    int64_t last_error_time = 0;
    std::string last_error;
};

// Command-line choices, before anything else: the line's name (empty: the
// settings file's base name) and the metrics file (empty: the settings'
// metricsfile=, else none). Also records the start time and process.
void line_status_configure(const std::string& name, const std::string& metrics_file);

// The communication thread has loaded the settings: the files to publish
// are settled (statusfile= and metricsfile= of [setup], relative names in
// the working folder; the status file defaults to quaylink.status there),
// the connection is recorded, the state becomes STARTING and publishing
// starts. port is the port as the operator sees it.
void line_status_open(const std::string& port);

void line_status_state(LineState state);
// A checked command frame: counted, remembered as the last frame, BUSY.
void line_status_command(const std::string& word);
void line_status_command_failed();
// A connection or call begins to be served.
void line_status_session(long call_number);
void line_status_line_error();
// A transfer starts (TRANSFER), counts bytes, ends (bytes added to the
// counters; the state returns to BUSY until the command's end).
void line_status_transfer_start(bool incoming, TransferPeer peer, const std::string& file,
                                int64_t total);
void line_status_transfer_count(int64_t done);
void line_status_transfer_end();
// The outcome of a serial transfer: a file counted when it succeeded.
void line_status_transfer_result(bool ok);
// The outcome of an FTP or relay operation; a file moved by it is counted
// when it succeeded.
void line_status_network(NetworkKind kind, bool ok);
// An error line of the activity log.
void line_status_error(const std::string& text);

// The program ends: ENDED is published (up 0 in the metrics) and the writer
// stops. Safe to call when nothing was opened.
void line_status_close();

LineStatus line_status_snapshot();

// Waits until everything fed so far has been published (tests, the end).
void line_status_flush();

// The paths in use (empty when not publishing that file).
std::string line_status_file();
std::string line_status_metrics_file();

// True when dir/name is the status file or the metrics file in use.
bool line_status_owns(const std::string& dir, const std::string& name);

// The published forms.
std::string line_status_json(const LineStatus& s);
std::string line_status_metrics(const LineStatus& s);
// Lines "Label: value" for the operator window's details box.
std::string line_status_details(const LineStatus& s, int64_t now);

// Stops the writer without publishing and forgets everything (tests).
void line_status_reset();

// A length of time as an operator reads it: "45 s", "12 min", "5 h", "3 d".
std::string duration_text(int64_t seconds);

// Seconds since 1970, UTC.
int64_t wall_seconds();

}  // namespace ql
