// State shared by the control-connection and transfer halves of the FTP
// client. Not part of the library's interface.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "network/ftp.h"

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
};

FtpState& state();

// Logs an information line (error flag 0) or an error line.
void info(const std::string& text, int32_t code = 0);
void error(const std::string& text, int32_t code = 0);

// Sends bytes whole on a socket (a short send is continued). Returns 0 or -1.
int send_all(SocketHandle s, const char* bytes, size_t length);

// Closes the data socket, when there is one, and empties its slot.
void close_data_socket();

// Closes the transfer file, when one is open; false when buffered data could
// not be written.
bool close_transfer_file();

}  // namespace ql::ftp_detail
