// FTP control-connection replies as a server sends them: the input arrives
// on a socket whose far end has closed, and is read reply by reply (with
// continuation lines). Every reply line then goes through the parsers that
// look inside replies: the code, the announced size and the passive port.
#include <cstring>
#include <string>

#include "foundation/log.h"
#include "fuzz_support.h"
#include "network/ftp.h"
#include "network/socket.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::SocketFeed feed(fuzz::bytes(data, size));
    if (!feed.ok()) return 0;

    ql::log_reset();
    ql::ftp_reset();
    ql::ftp_set_log_flag((size & 1) != 0);
    ql::ftp_set_reply_timeout(1000);  // never reached: the peer has closed
    ql::FtpConnection& c = ql::ftp_connection();
    c.control = feed.release();
    c.connected = true;

    // Every reply takes at least one byte until the stream has ended.
    for (size_t replies = 0; replies <= size; ++replies) {
        int code = 0;
        int rc = ql::ftp_reply_wait(1, code);
        if (std::strlen(c.reply) > ql::kFtpMaxLine) __builtin_trap();
        if (rc == ql::kFtpReplyTimeout) break;
        if (rc != 1 && rc != 0 && rc != -1 && rc != -4) __builtin_trap();
        if (code != ql::ftp_reply_code(c.reply)) __builtin_trap();
        if (ql::ftp_expected_size(c.reply) < 0) __builtin_trap();
        std::string port;
        ql::ftp_pasv_port(c.reply, port);
        uint8_t address[5];
        ql::text_to_address(c.reply, address);
        if (c.reply[0] == '\0') break;  // nothing left but the end of stream
    }

    ql::ftp_reset();  // closes the socket
    ql::log_reset();
    return 0;
}
