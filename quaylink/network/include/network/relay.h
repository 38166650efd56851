// The relay protocol client: the server's side of a small text protocol in
// which every message is a frame
//
//   "%4.4d" length (payload bytes + 1) | sequence byte | payload
//
// and every payload begins with a three-digit code. A long-lived command
// connection carries control requests and 101 notifications; a data
// connection, opened per transfer on the port the relay server hands out,
// carries file blocks or raw streams.
//
// Results: 0 success; negative codes for transport and local failures (see
// relay_result); the relay server's three-digit reply codes are passed
// through as positive results; 1 and 2 are the fixed "cannot start" and
// "load timed out" results. Every notable step is written to the activity
// log with lines beginning "IP:".
//
// All state is process-wide and used by the communication thread only, one
// operation at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "network/local_file.h"
#include "network/socket.h"

namespace ql {

namespace relay_result {
inline constexpr int kOk = 0;
inline constexpr int kFailed = -1;          // a connection cannot be opened, a transfer failed
inline constexpr int kShortHeader = -7;     // short or unreadable length field, body read failed
inline constexpr int kSendFailed = -8;      // a socket send failed
inline constexpr int kNoHeader = -9;        // no length field: read error, time-out, peer closed
inline constexpr int kSequence = -11;       // two frames in a row with a wrong sequence byte
inline constexpr int kFrameTooLong = -12;   // the frame does not fit the buffer it is read into
inline constexpr int kRemoteRead = -100;    // the relay server refused a download block
inline constexpr int kLocalWrite = -101;    // the local file cannot be written
inline constexpr int kSizeMismatch = -102;  // a stream download's byte count differs
inline constexpr int kFieldRefused = -103;  // a request field holds CR, LF or NUL; nothing sent
inline constexpr int kCannotStart = 1;      // upload or download cannot start, load transport
inline constexpr int kLoadTimeout = 2;      // a load still ran after 20 polls
}  // namespace relay_result

// Sizes of the protocol.
inline constexpr size_t kRelayFrameBuffer = 2056;  // length field + sequence byte + payload
inline constexpr size_t kRelayMaxBody = 2052;      // sequence byte + payload
inline constexpr size_t kRelayMaxPayload = 2051;
inline constexpr size_t kRelayUploadBlock = 1000;
// Stream mode moves raw file bytes in pieces of up to this size each way;
// the pieces are not visible to the relay server (TCP is a byte stream).
inline constexpr size_t kRelayStreamPiece = 64 * 1024;
inline constexpr size_t kRelayFieldMax = 63;  // characters kept of each reply field
inline constexpr int kRelayLoadPolls = 20;
inline constexpr size_t kRelayReplyText = 256;  // reply and result texts, terminator included

// Time-outs in milliseconds.
inline constexpr int kRelayReplyTimeoutMs = 30000;  // every reply and every stream read
inline constexpr int kRelayFinalTimeoutMs = 5000;   // the last reply of a stream upload

// ---- Frame layer ------------------------------------------------------

// Sends one frame on s carrying the current sequence counter (the counter
// does not move). Returns 0 or -8.
int relay_send_frame(SocketHandle s, const char* payload, size_t length);

// Receives one frame from s, waiting at most timeout_ms for all of it (a
// dropped frame and the one after it included); a stop request ends the
// wait before the next read. dest must hold capacity bytes; the payload is
// copied there followed by a zero byte and its length is stored in length.
// A frame whose sequence byte matches the counter moves the counter on by
// one (mod 256) and gives 0. The first mismatching frame is dropped and the
// next one read; a second mismatch gives -11 with the counter unchanged.
// Other results: -9 no length field (error, time-out, stop, peer closed),
// -7 short or unreadable length field (also a length of 0) or the body
// cannot be read whole, -12 the body is longer than the frame buffer or the
// payload longer than capacity - 1 (the body is read and dropped so that
// the connection stays in step). Never writes past dest or the frame
// buffer.
int relay_receive_frame(SocketHandle s, char* dest, size_t capacity, size_t& length,
                        int timeout_ms);

// One request/reply exchange: sends request, then receives the reply with
// the reply time-out. Logs "IP:Socket Write Error RC=%d" or "IP:Socket Read
// Error RC=%d" and returns the error on failure; 0 with the reply payload
// (zero-terminated, at most capacity - 1 bytes) otherwise.
int relay_request(SocketHandle s, const char* request, size_t length, char* reply, size_t capacity,
                  size_t& reply_length);

// The code of a payload: the leading decimal digits of its first three
// characters (0 when there are none).
int relay_reply_code(const char* payload, size_t length);

// Splits the text after a reply's code into the four reply fields at ','.
// Each field keeps at most 63 characters; missing fields are empty.
void relay_split_fields(const char* text);

// Reply field i (0 to 3) of the last split.
const std::string& relay_reply_field(int i);

// ---- Connections --------------------------------------------------------

// Opens the command connection to host and port (number or service name)
// and logs in with "100" + login. Returns 0; -1 when the connection cannot
// be made; an exchange error; or the server's non-zero login code (the
// connection is closed again on every failure). An open command connection
// is closed first.
int relay_open(const std::string& host, const std::string& login, const std::string& port);

// Asks for a data port with "150" and connects the data connection to the
// relay host on it. A data connection still open (after a load) is closed
// first. Returns 0, an exchange error, the server's non-zero code, or -1
// when the connection cannot be made.
int relay_open_data();

// Closes the data and the command connection when open.
void relay_close_all();

// ---- Operations ---------------------------------------------------------

// Uploads a local file as remote (stream or packet mode as the server
// answers "099"). Returns 0; 1 when it cannot start (empty or missing file,
// no data connection); an exchange error; the server's code; or -1 (stream
// byte count short). held: the source opened where the terminal's name was
// checked (local_file.h), taken over; local then only names it in messages.
int relay_send_file(const std::string& local, const std::string& remote, LocalFile* held = nullptr);

// relay_send_file, then the copy call "251" + remote; result receives the
// first field of its reply (cut to 255 characters).
int relay_send_and_call(const std::string& local, const std::string& remote, std::string& result,
                        LocalFile* held = nullptr);

// Downloads remote into local. The bytes go to a temporary file beside
// local that replaces it only on success: a failure leaves an existing
// local file as it was and no partial file. Returns 0; -1 (cannot create
// the file, remote refused the open, packet transport); 1 (no data
// connection); an exchange error; the server's code; -100, -101 or -102.
// held: the folder the file goes into, held open where the terminal's name
// was checked (local_file.h); local then only names it in messages.
int relay_receive_file(const std::string& local, const std::string& remote,
                       const LocalFile* held = nullptr);

// Asks for a listing ("200" + local), downloads the listing file the
// server names into local (or into held, as relay_receive_file) and
// deletes it remotely ("210").
int relay_list(const std::string& local, const LocalFile* held = nullptr);

// Changes the remote directory ("260").
int relay_change_dir(const std::string& dir);

// Copy (kind 0, "250"), append (kind 1, "240") or delete (kind 2, "210",
// source only). Any other kind returns -1 without traffic.
int relay_file_op(const std::string& source, const std::string& target, int kind);

// Runs a remote load ("300", then "301" polls while the server answers
// 888, at most 20) on a data connection that stays open until
// relay_close_all. reply receives the text for the terminal. Returns 0;
// 1 when the data connection or an exchange fails; 2 after 20 polls; or
// the server's code.
int relay_load(const std::string& first, const std::string& second, std::string& reply);

// ---- State, for tests and status ---------------------------------------

SocketHandle relay_command_socket();
SocketHandle relay_data_socket();
uint8_t relay_sequence();
void relay_set_sequence(uint8_t value);
bool relay_stream_mode();

// Shortens the time-outs (tests); values <= 0 restore the defaults.
void relay_set_timeouts(int reply_ms, int final_ms);

// Starts clean: closes both connections, counter 0, default time-outs,
// empty fields and host.
void relay_reset();

}  // namespace ql
