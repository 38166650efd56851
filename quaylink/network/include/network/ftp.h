// The FTP client: one process-wide control connection to an FTP server,
// its replies and one-line commands, and the file transfers over active
// (PORT, or EPRT on IPv6) or passive (PASV, or EPSV when enabled and on
// IPv6) data connections. Optionally the control and data connections run
// over TLS (explicit AUTH TLS, or implicit TLS from the first byte); the
// reply reader and the transfer loops read and write through whichever
// transport the connection has.
//
// All calls come from the communication thread; the connection record, the
// buffers and the counters below are process-wide and unsynchronised. Every
// operation returns an integer result; nothing throws. Replies are read one
// byte per receive, so no byte of a following reply or of the data exchange
// is consumed early; file data moves in pieces of up to kFtpDataPiece bytes.
// A whole reply, all its lines, must arrive within the reply time-out and
// kFtpMaxReply bytes, and a stop request ends the wait at once; a reply
// that does not, or that the server cuts off by closing, closes the control
// connection (it is out of step from then on). Every other wait (accept,
// data piece, command or data send) ends after the reply time-out without
// progress.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "network/local_file.h"
#include "network/socket.h"

namespace ql {

inline constexpr size_t kFtpBufferSize = 2048;
// Longest reply line; longer lines are cut and the rest read as a new line.
inline constexpr size_t kFtpMaxLine = kFtpBufferSize - 1;
// The data connection moves file data in pieces of up to this size; TCP is a
// byte stream, so the piece size is not visible to the server.
inline constexpr size_t kFtpDataPiece = 64 * 1024;
// Wait for a whole reply, for the data connection's accept, for each data
// receive and for room to send a command or a data piece.
inline constexpr int kFtpReplyTimeoutMs = 30000;
// Most bytes one reply may take, all its lines together.
inline constexpr size_t kFtpMaxReply = 64 * 1024;
// Active-mode data ports rotate through this range when no fixed port is set.
inline constexpr int kFtpFirstDataPort = 8000;
inline constexpr int kFtpLastDataPort = 8999;

// Results of the client operations.
namespace ftp_result {
inline constexpr int kOk = 0;
inline constexpr int kOpenFailed = -4;      // connect or greeting failed
inline constexpr int kUserFailed = -5;      // USER got no usable reply
inline constexpr int kPassRefused = -6;     // PASS refused
inline constexpr int kPassAccount = -8;     // PASS answered 231
inline constexpr int kTypeFailed = -10;     // TYPE I refused
inline constexpr int kCreateFailed = -131;  // local file cannot be created
inline constexpr int kCwdFailed = -132;
inline constexpr int kGetFailed = -133;     // listing or download failed
inline constexpr int kLocalFileBad = -134;  // upload source empty, missing or unreadable
inline constexpr int kPutFailed = -135;     // upload or copy failed
// A text for a command line holds CR, LF or NUL; nothing was sent.
inline constexpr int kFieldRefused = -136;
// FTP over TLS was asked for and could not be had: no TLS offered, the
// handshake failed, the certificate was refused, or this build has no TLS.
// Never answered by falling back to plain text.
inline constexpr int kTlsFailed = -137;
}  // namespace ftp_result

// How the connection is protected and which passive command comes first;
// the defaults are plain FTP with PASV and PORT.
enum class FtpTlsMode { kOff, kExplicit, kImplicit };
struct FtpOptions {
    FtpTlsMode tls = FtpTlsMode::kOff;
    // Verify the server's certificate (chain and host name).
    bool tls_verify = true;
    // A PEM bundle of CA certificates to trust instead of the system's.
    std::string ca_file;
    // Passive transfers ask EPSV first and fall back to PASV when the server
    // refuses it. On an IPv6 connection EPSV and EPRT are used whatever this
    // says: PASV and PORT cannot carry an IPv6 address.
    bool epsv = false;
};

// The port an implicit-TLS open uses when no control port is set.
inline constexpr int kFtpImplicitTlsPort = 990;

// Result of a reply wait that timed out, failed to read, outgrew
// kFtpMaxReply, was stopped or was cut off by the server closing; the
// control connection is closed then.
inline constexpr int kFtpReplyTimeout = -2;
// Result of a reply wait whose reply ended with a code outside 100-599 (or
// none): a protocol error, which fails the command like a refusal.
inline constexpr int kFtpProtocolError = -3;

// The one FTP connection of the process.
struct FtpConnection {
    SocketHandle control = kNoSocket;
    // In active mode this holds the listening socket from the PORT step
    // until the accept.
    SocketHandle data = kNoSocket;
    uint8_t passive = 0;             // nonzero: PASV data connections
    uint8_t server_address[5] = {};  // as reached by the control connection (IPv4)
    // The address text the control connection reached (IPv4 or IPv6);
    // passive data connections go to it.
    std::string server_host;
    char reply[kFtpBufferSize] = {};  // the current reply line, NUL-terminated
    size_t reply_capacity = kFtpBufferSize;
    char data_buffer[kFtpDataPiece] = {};  // download and upload pieces
    size_t data_capacity = kFtpDataPiece;
    int listing_mode = 0;  // 1: the next retrieve sends LIST instead of RETR
    bool connected = false;
};

FtpConnection& ftp_connection();

// ---- Operations -------------------------------------------------------

// Connects to host on the control port, reads the greeting, logs in with
// USER/PASS and sets the image type. passive: its low byte becomes the
// connection's data mode. When already connected nothing is sent for the
// connect phase and the login runs on the open connection.
// With TLS on, the control connection is secured before USER (AUTH TLS
// after the greeting, or from the first byte when implicit) and PBSZ 0 and
// PROT P follow the login, so every data connection is secured too.
// Returns 0 (logged in, connection open), -4 (connect or greeting failed),
// -5 (USER got no usable reply), -6 (PASS refused), -8 (PASS answered 231),
// -10 (TYPE I refused) or -137 (TLS asked for and not had; logged with the
// reason). Every failure leaves the connection closed.
int ftp_open(const std::string& host, const std::string& user, const std::string& password,
             int passive);

// The protection and passive-command options of later opens and transfers
// (set at the start of each communication from the settings).
void ftp_set_options(const FtpOptions& options);
const FtpOptions& ftp_options();

// True while the control connection runs over TLS.
bool ftp_tls_active();

// Sends QUIT (when connected) and reads its reply, then closes the control
// and data sockets and clears the connected flag.
void ftp_quit();

// Changes the remote directory. Returns 0 (reply 250) or -132.
int ftp_cwd(const std::string& dir);

// Runs a server-side copy: kind 0 COPY, 10 COPYDEL, 1 APPEND, any other
// APPDEL, with the source and target names. Returns 0 (reply 220) or -135.
int ftp_copy(const std::string& source, const std::string& target, int kind);

// The control port of the next open (0 = 21).
void ftp_set_control_port(int port);

// The fixed data port of active transfers (0 = rotate through 8000-8999).
void ftp_set_data_port(int port);

// Writes the remote directory listing into the local file (empty name =
// "ftpdir" in the current directory). The listing arrives in a temporary
// file beside the target, which replaces the target only when the listing
// succeeded; a failure leaves a previous file untouched.
// Returns 0, -131 (local file cannot be created) or -133 (listing failed).
// held: the folder the listing goes into, held open where the terminal's
// name was checked (local_file.h); local then only names it in messages.
int ftp_dir(const std::string& local, const LocalFile* held = nullptr);

// Downloads remote into local, through a temporary file as ftp_dir does.
// Returns 0, -131 or -133.
int ftp_recv(const std::string& local, const std::string& remote, const LocalFile* held = nullptr);

// Uploads local as remote. Returns 0, -134 (local file empty, missing or
// unreadable; the server is not contacted) or -135 (upload failed).
// held: the source opened where the terminal's name was checked, which the
// upload takes over; local then only names it in messages.
int ftp_send(const std::string& local, const std::string& remote, LocalFile* held = nullptr);

// Uploads local under an empty remote name (the server picks the place);
// an empty file is sent as an empty upload. Returns 0, -134 or -135.
int ftp_dbin(const std::string& local, LocalFile* held = nullptr);

// The FTP log flag: when set, the open details and most error lines are
// logged. Set together with the bridge's defaults.
void ftp_set_log_flag(bool on);
bool ftp_log_flag();

// ---- Steps (used by the operations above, and by tests) ---------------

// Reads one reply line into the reply buffer (line feed and a carriage
// return before it removed; cut after kFtpMaxLine characters; ended early
// when the peer closes), within the limits of a whole reply. Returns 0 or
// kFtpReplyTimeout.
int ftp_read_line();

// Reads one reply (continuation lines included; the buffer keeps the last
// line) and stores its code (-1 when the line has no number). Returns 1 for
// 1xx and 2xx, -4 for 3xx, 0 for 4xx, -1 for 5xx, kFtpProtocolError for a
// code outside 100-599 or none (logged "Reply error, code out of
// range[tag]" with the code), or kFtpReplyTimeout (logged "Reply error,
// timeout/close[tag]"; the control connection is closed). A reply complete
// when the server closes is judged, and the connection closed after it.
int ftp_reply_wait(int tag, int& code);

// Brings the control connection back in step after a data transfer that
// ended early: sends ABOR when abort is set (the transfer may still run on
// the server) and extra when not empty, closes the data socket, sends NOOP
// and reads replies until the NOOP's 200, all within one reply time-out
// and kFtpMaxReply bytes. Returns 0 in step, or -1 with the control
// connection closed (not connected, or the replies did not come).
int ftp_resync(bool abort, const std::string& extra = "");

// The reply code of a line: the decimal number after leading white space,
// or -1 when there is none.
int ftp_reply_code(const char* line);

// Sends a command text whole on the control connection. Returns 0, or -1
// when not connected, when the send fails or makes no progress for the
// reply time-out, or when the text holds CR, LF or NUL anywhere but in its
// final CR LF (nothing is sent then: a second command must never ride
// along).
int ftp_send_command(const std::string& text);

// The byte count announced in a preliminary reply line ("(5120 bytes)"),
// or 0 when there is none.
int64_t ftp_expected_size(const char* line);

// The data port named by a 227 reply (fifth and sixth numbers), as decimal
// text. False when the reply has fewer commas.
bool ftp_pasv_port(const char* reply, std::string& port);

// The data port named by a 229 reply ("(|||6446|)": the text in brackets
// is three delimiters, the port, a delimiter), as decimal text. False when
// the reply has no such group or the port is not 1-65535.
bool ftp_epsv_port(const char* reply, std::string& port);

// The next active-mode data port: the fixed one when set, else the counter,
// which then advances (8999 is followed by 8000).
int ftp_next_data_port();

// The most recent file-system error number of a transfer (0 when none),
// shown in some log lines.
int ftp_last_file_error();

// ---- Test seams and reset ----------------------------------------------

// True when text holds CR, LF or NUL, which would end or cut a command
// line.
bool ftp_text_breaks_line(const std::string& text);

// Shortens the reply, accept, data and send waits (default
// kFtpReplyTimeoutMs).
void ftp_set_reply_timeout(int ms);
// Lowers the size bound of one reply (0 restores kFtpMaxReply).
void ftp_set_max_reply(size_t bytes);
// Sets the data port counter (the next rotating port).
void ftp_set_data_port_counter(int port);

// Starts clean: closes any open socket and transfer file, zero-fills the
// connection, control port 0, fixed data port 0, counter 8000, log flag
// off, default time-out and size bound.
void ftp_reset();

}  // namespace ql
