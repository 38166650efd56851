// TLS over a connected socket of the socket layer: one small interface over
// whichever TLS library the build has (OpenSSL 3 on Linux; none where the
// build has no TLS library, in which case every connect reports
// kUnavailable). The FTP client uses it for FTP over TLS; it does not care
// which library serves it.
//
// The caller keeps the socket: tls_close ends the TLS layer (sending the
// close notice when it can) but never closes the socket underneath. Every
// wait ends at its deadline, and within kSocketStopGraceMs of a stop
// request (as the socket layer's waits do). Nothing here logs; a failed
// connect hands back a short English reason for the caller's log line.
// Communication thread only.
#pragma once

#include <cstddef>
#include <string>

#include "network/socket.h"

namespace ql {

namespace tls_result {
inline constexpr int kOk = 0;
inline constexpr int kUnavailable = -20;  // this build has no TLS library
inline constexpr int kSetup = -21;        // the CA bundle cannot be loaded
inline constexpr int kHandshake = -22;    // the handshake failed or timed out
inline constexpr int kVerify = -23;       // the server's certificate was refused
inline constexpr int kReceive = -24;      // a read failed or timed out
inline constexpr int kSend = -25;         // a write failed or found no room in time
}  // namespace tls_result

// What a connect checks.
struct TlsOptions {
    // The host as the user named it (a name or an address text): the
    // certificate must be issued for it, and a name is sent as SNI.
    std::string host;
    // Verify the server's certificate chain and host. Off accepts anything.
    bool verify = true;
    // A PEM bundle of CA certificates to trust instead of the system's store
    // (empty = the system's store).
    std::string ca_file;
};

// One TLS connection (opaque).
struct TlsChannel;

// True when this build can speak TLS; the library's name and version text
// for the log ("OpenSSL 3.0.x ...", or "none").
bool tls_available();
std::string tls_library();

// Runs the client handshake on the connected socket s, waiting at most
// timeout_ms without progress. resume: a channel to the same server whose
// session the new one resumes (FTP data connections must resume the
// control connection's session), or nullptr. A resuming channel trusts
// what resume trusts (options.verify and options.ca_file must be the ones
// resume was made with; options.host is checked anew). When the new
// channel closes, its own session becomes the one the next connection
// resuming from that channel takes, because servers may accept each TLS
// 1.3 ticket only once. On success out holds the new channel; on failure
// out is nullptr and why says what went wrong ("certificate has expired",
// "hostname mismatch", "handshake timed out").
// Returns 0, kUnavailable, kSetup, kHandshake or kVerify.
int tls_connect(SocketHandle s, const TlsOptions& options, TlsChannel* resume, TlsChannel*& out,
                int timeout_ms, std::string& why);

// One read of at most capacity decrypted bytes, waiting at most timeout_ms
// for the first. Returns 0 with count > 0, 0 with count 0 (the peer ended
// the TLS stream or closed the connection), or kReceive with count 0.
int tls_read(TlsChannel* channel, void* buffer, size_t capacity, int timeout_ms, int& count);

// Writes all length bytes; fails when a write makes no progress for
// timeout_ms. Returns 0 or kSend.
int tls_write_all(TlsChannel* channel, const void* bytes, size_t length, int timeout_ms);

// Sends the close notice (waiting at most timeout_ms for room) and frees
// the channel; channel becomes nullptr. No effect on nullptr. The socket
// stays open.
void tls_close(TlsChannel*& channel, int timeout_ms);

}  // namespace ql
