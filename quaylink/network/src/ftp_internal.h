// State shared by the control-connection and transfer halves of the FTP
// client. Not part of the library's interface.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "network/ftp.h"
#include "network/tls.h"

namespace ql::ftp_detail {

struct FtpState {
    int control_port = 0;  // 0 = 21
    int fixed_data_port = 0;
    int data_port_counter = kFtpFirstDataPort;
    bool log_flag = false;
    int reply_timeout_ms = kFtpReplyTimeoutMs;
    size_t max_reply = kFtpMaxReply;
    std::FILE* transfer_file = nullptr;
    bool disk_full = false;
    int last_file_error = 0;
    char command[kFtpBufferSize] = {};  // command texts; also the upload block buffer
    FtpOptions options;
    // The TLS layers of the control and data connections (nullptr = plain).
    TlsChannel* control_tls = nullptr;
    TlsChannel* data_tls = nullptr;
    // The host the open named: TLS checks the certificate against it.
    std::string tls_host;
    // The server refused EPSV on this connection: PASV from now on.
    bool epsv_refused = false;
};

FtpState& state();

// Logs an information line (error flag 0) or an error line.
void info(const std::string& text, int32_t code = 0);
void error(const std::string& text, int32_t code = 0);

// Sends bytes whole on the control or data socket (a short send is
// continued), through its TLS layer when it has one. Returns 0 or -1.
int send_all(SocketHandle s, const char* bytes, size_t length);

// One receive on the control or data socket, through its TLS layer when it
// has one; the contract of tcp_receive (0 with count > 0, 0 with count 0 at
// the end, nonzero on failure or time-out).
int receive(SocketHandle s, void* buffer, size_t capacity, int timeout_ms, int& count);

// Runs the TLS handshake on socket s (resuming the control connection's
// session when resume is set) and logs the reason when it fails. Returns 0
// or a tls_result code.
int secure(SocketHandle s, TlsChannel*& slot, TlsChannel* resume);

// Closes the data socket, when there is one, and empties its slot.
void close_data_socket();

// Closes the transfer file, when one is open; false when buffered data could
// not be written.
bool close_transfer_file();

}  // namespace ql::ftp_detail
