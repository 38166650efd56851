// FTP control-connection replies as a server sends them: the input is the
// server's side of a session, read from a socket whose far end has finished
// sending. The greeting is read, then a login (USER, PASS, TYPE), a change
// of folder, a server-side copy and QUIT run against the replies that
// follow; whatever is left is read reply by reply. Every reply line goes
// through the parsers that look inside replies: the code, the announced
// size and the passive port.
#include <cstring>
#include <string>

#include "foundation/log.h"
#include "fuzz_support.h"
#include "network/ftp.h"
#include "network/socket.h"

namespace {

void check_reply(int rc, int code) {
    const ql::FtpConnection& c = ql::ftp_connection();
    if (std::strlen(c.reply) > ql::kFtpMaxLine) __builtin_trap();
    if (rc == ql::kFtpReplyTimeout) return;
    if (rc != 1 && rc != 0 && rc != -1 && rc != -4 && rc != ql::kFtpProtocolError) __builtin_trap();
    if (code != ql::ftp_reply_code(c.reply)) __builtin_trap();
    if (ql::ftp_expected_size(c.reply) < 0) __builtin_trap();
    std::string port;
    ql::ftp_pasv_port(c.reply, port);
    uint8_t address[5];
    ql::text_to_address(c.reply, address);
}

// The commands of a session; each reads its replies from the feed.
void run_session() {
    int code = 0;
    int greeting = ql::ftp_reply_wait(1, code);
    check_reply(greeting, code);
    ql::FtpConnection& c = ql::ftp_connection();
    c.connected = true;  // as after a greeting on a fresh connection
    int rc = ql::ftp_open("ftp.example", "user", "secret", 1);
    if (rc != 0 && c.connected) __builtin_trap();  // a failed login closes
    ql::ftp_cwd("/upload");
    ql::ftp_copy("DATA.TXT", "ARCHIVE.TXT", 0);
    ql::ftp_quit();
    if (c.connected || c.control != ql::kNoSocket) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::SocketFeed session(fuzz::bytes(data, size));
    fuzz::SocketFeed replies(fuzz::bytes(data, size));
    if (!session.ok() || !replies.ok()) return 0;

    ql::log_reset();
    ql::ftp_reset();
    ql::ftp_set_log_flag((size & 1) != 0);
    ql::ftp_set_reply_timeout(1000);  // never reached: the peer has finished
    ql::FtpConnection& c = ql::ftp_connection();
    c.control = session.release();
    run_session();

    // The same bytes once more, reply by reply; every reply takes at least
    // one byte until the stream has ended.
    c.control = replies.release();
    c.connected = true;
    for (size_t n = 0; n <= size; ++n) {
        int code = 0;
        int rc = ql::ftp_reply_wait(1, code);
        check_reply(rc, code);
        if (rc == ql::kFtpReplyTimeout || c.reply[0] == '\0') break;
    }

    ql::ftp_reset();  // closes the socket
    ql::log_reset();
    return 0;
}
