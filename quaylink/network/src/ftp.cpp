// The FTP control connection: replies, command steps, login, CWD, QUIT and
// the server's copy and append extension commands.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>

#include "foundation/log.h"
#include "ftp_internal.h"
#include "network/ftp.h"
#include "platform/clock.h"

namespace ql {

namespace ftp_detail {

FtpState& state() {
    static FtpState s;
    return s;
}

void info(const std::string& text, int32_t code) {
    log_event(text, 0, code);
}
void error(const std::string& text, int32_t code) {
    log_event(text, 99, code);
}

namespace {

// The TLS layer of the control or data socket, or nullptr when it is plain.
TlsChannel* channel_of(SocketHandle s) {
    FtpConnection& c = ftp_connection();
    if (s == kNoSocket) return nullptr;
    if (s == c.control) return state().control_tls;
    if (s == c.data) return state().data_tls;
    return nullptr;
}

}  // namespace

int send_all(SocketHandle s, const char* bytes, size_t length) {
    // A peer that stops reading fills the send buffer; the wait for room is
    // bounded like every receive.
    int timeout = state().reply_timeout_ms;
    if (TlsChannel* tls = channel_of(s))
        return tls_write_all(tls, bytes, length, timeout) == 0 ? 0 : -1;
    size_t sent = 0;
    return tcp_send_all(s, bytes, length, sent, timeout) == 0 ? 0 : -1;
}

int receive(SocketHandle s, void* buffer, size_t capacity, int timeout_ms, int& count) {
    if (TlsChannel* tls = channel_of(s)) return tls_read(tls, buffer, capacity, timeout_ms, count);
    return tcp_receive(s, buffer, capacity, timeout_ms, count);
}

int secure(SocketHandle s, TlsChannel*& slot, TlsChannel* resume) {
    FtpState& st = state();
    TlsOptions options;
    options.host = st.tls_host;
    options.verify = st.options.tls_verify;
    options.ca_file = st.options.ca_file;
    std::string why;
    int rc = tls_connect(s, options, resume, slot, st.reply_timeout_ms, why);
    if (rc != tls_result::kOk) {
        error(strformat("FTP:TLS failed [%s]: %s", st.tls_host.c_str(), why.c_str()),
              ftp_result::kTlsFailed);
    }
    return rc;
}

void close_data_socket() {
    FtpConnection& c = ftp_connection();
    // The close notice tells an upload's server that all the data came.
    tls_close(state().data_tls, state().reply_timeout_ms);
    if (c.data != kNoSocket) tcp_close(c.data);
    c.data = kNoSocket;
}

bool close_transfer_file() {
    FtpState& st = state();
    if (st.transfer_file == nullptr) return true;
    bool ok = std::fclose(st.transfer_file) == 0;
    if (!ok) st.last_file_error = errno;
    st.transfer_file = nullptr;
    return ok;
}

}  // namespace ftp_detail

using namespace ftp_detail;

namespace {

constexpr int kTagGreeting = 104;
constexpr int kTagUser = 111;
constexpr int kTagPass = 105;
constexpr int kTagType = 110;
constexpr int kTagCwd = 101;
constexpr int kTagCopy = 110;
constexpr int kTagQuit = 109;
constexpr int kTagResync = 112;
constexpr int kTagAuth = 115;
constexpr int kTagProt = 116;

// The password never reaches the log file.
constexpr const char* kPasswordMask = "********";

int classify(int code) {
    if (code >= 100 && code < 300) return 1;
    if (code >= 300 && code < 400) return -4;
    if (code >= 400 && code < 500) return 0;
    return -1;
}

// A command and its reply. Returns the reply wait's result, or -100 when
// the command could not be sent (not connected, or the send failed).
constexpr int kNotSent = -100;
int command_step(const std::string& text, int tag, int& code) {
    code = -1;
    if (ftp_send_command(text) != 0) return kNotSent;
    return ftp_reply_wait(tag, code);
}

// USER, TYPE and the copy family go on after a time-out when the text read
// so far begins with "QUIT", with a code that no success test accepts. A
// code outside 100-599 is never an answer: USER would otherwise take it
// for "no password wanted".
bool failed_outright(int rc, int& code) {
    if (rc == kNotSent || rc == kFtpProtocolError) return true;
    if (rc != kFtpReplyTimeout) return false;
    if (std::strncmp(ftp_connection().reply, "QUIT", 4) != 0) return true;
    code = 0;
    return false;
}

// 1 = password wanted (331), 0 = any other reply, -1 = no usable reply.
int user_step(const std::string& user) {
    int code = -1;
    int rc = command_step("USER " + user + "\r\n", kTagUser, code);
    if (failed_outright(rc, code)) return -1;
    return code == 331 ? 1 : 0;
}

// 0 = logged in (230, 220), 1 = account wanted (231), -1 = refused.
int pass_step(const std::string& password) {
    int code = -1;
    command_step("PASS " + password + "\r\n", kTagPass, code);
    if (code == 230 || code == 220) return 0;
    return code == 231 ? 1 : -1;
}

// A command whose only success is one reply code, with the time-out rule of
// failed_outright.
bool expect_code(const std::string& text, int tag, int wanted) {
    int code = -1;
    int rc = command_step(text, tag, code);
    if (failed_outright(rc, code)) return false;
    return code == wanted;
}

void close_sockets() {
    FtpConnection& c = ftp_connection();
    close_data_socket();
    tls_close(state().control_tls, state().reply_timeout_ms);
    if (c.control != kNoSocket) tcp_close(c.control);
    c.control = kNoSocket;
}

bool tls_wanted() {
    return state().options.tls != FtpTlsMode::kOff;
}

// Results of the connect phase.
constexpr int kConnectFailed = -1;
constexpr int kConnectTlsFailed = -2;

// Secures the control connection; the warning for an unverified server is
// written at every connect, so nobody forgets it is switched off.
int secure_control(const std::string& host) {
    FtpState& st = state();
    st.tls_host = host;
    if (!st.options.tls_verify)
        error(strformat("FTP:TLS certificate of [%s] not verified (ftptlsverify=no)", host.c_str()),
              0);
    return secure(ftp_connection().control, st.control_tls, nullptr);
}

// AUTH TLS after the greeting. The client never goes on in plain text when
// the server refuses it.
int auth_tls(const std::string& host) {
    FtpConnection& c = ftp_connection();
    c.connected = true;  // ftp_send_command sends only on a connection
    int code = -1;
    command_step("AUTH TLS\r\n", kTagAuth, code);
    c.connected = false;
    if (code != 234) {
        error(strformat("FTP:TLS failed [%s]: the server offers no TLS (AUTH TLS answered %d)",
                        host.c_str(), code),
              ftp_result::kTlsFailed);
        return kConnectTlsFailed;
    }
    return secure_control(host) == 0 ? 0 : kConnectTlsFailed;
}

int control_port() {
    if (state().control_port != 0) return state().control_port;
    return state().options.tls == FtpTlsMode::kImplicit ? kFtpImplicitTlsPort : 21;
}

// Connects and reads the greeting, securing the connection first (implicit)
// or right after (explicit) when TLS is on; nothing happens when already
// connected. Returns 0, kConnectFailed or kConnectTlsFailed (both sockets
// closed).
int connect_phase(const std::string& host) {
    FtpConnection& c = ftp_connection();
    if (c.connected) return 0;
    close_sockets();
    c.listing_mode = 0;
    c.reply_capacity = kFtpBufferSize;
    c.data_capacity = kFtpDataPiece;
    state().epsv_refused = false;
    int rc = tcp_connect(c.control, host, std::to_string(control_port()));
    if (rc != 0) {
        c.control = kNoSocket;  // the layer has closed it already
        if (ftp_log_flag()) {
            error(rc == socket_result::kResolve ? strformat("FTP:Cannot resolve [%s]", host.c_str())
                                                : strformat("FTP:Cannot connect [%s] tried [%s]",
                                                            host.c_str(), tcp_last_tried().c_str()),
                  rc);
        }
        return kConnectFailed;
    }
    if (ftp_log_flag() && strip_brackets(host) != peer_address())
        info(strformat("FTP:Connected [%s] at [%s]", host.c_str(), peer_address().c_str()), 0);
    if (state().options.tls == FtpTlsMode::kImplicit && secure_control(host) != 0) {
        close_sockets();
        return kConnectTlsFailed;
    }
    int code = -1;
    rc = ftp_reply_wait(kTagGreeting, code);
    if (rc != 1 && rc != -4) {
        close_sockets();
        return kConnectFailed;
    }
    if (state().options.tls == FtpTlsMode::kExplicit) {
        int secured = auth_tls(host);
        if (secured != 0) {
            close_sockets();
            return secured;
        }
    }
    c.connected = true;
    return 0;
}

// PBSZ 0 and PROT P: every data connection in TLS as well.
bool protect_data() {
    if (state().control_tls == nullptr) return true;
    if (expect_code("PBSZ 0\r\n", kTagProt, 200) && expect_code("PROT P\r\n", kTagProt, 200))
        return true;
    error(strformat("FTP:TLS failed [%s]: the server refused PBSZ 0 / PROT P",
                    state().tls_host.c_str()),
          ftp_result::kTlsFailed);
    return false;
}

int login(const std::string& user, const std::string& password) {
    FtpConnection& c = ftp_connection();
    int u = user_step(user);
    if (u == -1) return ftp_result::kUserFailed;
    if (u == 1) {
        c.listing_mode = 0;
        int p = pass_step(password);
        if (p == -1) return ftp_result::kPassRefused;
        if (p == 1) return ftp_result::kPassAccount;
    }
    if (!protect_data()) return ftp_result::kTlsFailed;
    if (!expect_code("TYPE I\r\n", kTagType, 200)) {
        if (ftp_log_flag()) error("FTP:Type failed", 0);
        return ftp_result::kTypeFailed;
    }
    return ftp_result::kOk;
}

// The limits of one reply, all its lines together: it must arrive before
// the deadline and within kFtpMaxReply bytes. A server that never ends its
// reply (continuation lines without end, or one byte at a time) otherwise
// holds the communication thread for ever.
struct ReplyLimits {
    uint64_t deadline = 0;
    size_t bytes_left = 0;
};

ReplyLimits fresh_limits() {
    return {
        platform::monotonic_ms64() + static_cast<uint64_t>(std::max(state().reply_timeout_ms, 0)),
        state().max_reply};
}

// The one place reply bytes come from. 1: a byte; 0: the server closed;
// -1: the deadline or the size bound passed, a stop was asked for, or the
// receive failed. The stop is looked at before every byte, so bytes that
// keep coming cannot outlast it.
int next_reply_byte(ReplyLimits& limits, char& byte) {
    if (socket_stop_requested() || limits.bytes_left == 0) return -1;
    uint64_t now = platform::monotonic_ms64();
    if (now >= limits.deadline) return -1;
    int count = 0;
    int wait = static_cast<int>(std::min<uint64_t>(limits.deadline - now, INT32_MAX));
    if (receive(ftp_connection().control, &byte, 1, wait, count) != 0) return -1;
    if (count == 0) return 0;
    --limits.bytes_left;
    return 1;
}

// Reads one reply line into the reply buffer within limits. closed is set
// when the server closed the connection during the line.
int read_line(ReplyLimits& limits, bool& closed) {
    FtpConnection& c = ftp_connection();
    size_t n = 0;
    int rc = 0;
    closed = false;
    while (n < kFtpMaxLine) {
        char byte = 0;
        int got = next_reply_byte(limits, byte);
        if (got < 0) {
            rc = kFtpReplyTimeout;
            break;
        }
        if (got == 0) {
            closed = true;  // the line ends with what came
            break;
        }
        if (byte == '\n') {
            if (n > 0 && c.reply[n - 1] == '\r') --n;
            break;
        }
        c.reply[n++] = byte;
    }
    c.reply[n] = '\0';
    return rc;
}

// A connection whose replies can no longer be trusted to be in step is
// closed; the next operation then finds it closed instead of reading some
// earlier command's answer.
void break_connection() {
    close_sockets();
    ftp_connection().connected = false;
}

// One reply within limits; see ftp_reply_wait.
int reply_within(ReplyLimits& limits, int tag, int& code) {
    FtpConnection& c = ftp_connection();
    code = -1;
    for (;;) {
        c.reply[0] = '\0';
        bool closed = false;
        int rc = read_line(limits, closed);
        bool continued = false;
        if (rc == 0) {
            code = ftp_reply_code(c.reply);
            continued = (std::strlen(c.reply) >= 4 && c.reply[3] == '-') ||
                        (code == -1 && std::strncmp(c.reply, "   ", 3) == 0);
        }
        if (rc != 0 || (closed && (continued || c.reply[0] == '\0'))) {
            // A reply cut short has no code, whatever the lines before
            // announced; the connection is out of step from here on.
            code = -1;
            info(strformat("Reply error, timeout/close[%d]", tag), 0);
            break_connection();
            return kFtpReplyTimeout;
        }
        if (closed) break_connection();  // the reply stands, the connection does not
        if (continued) continue;
        if (code < 100 || code > 599) {
            info(strformat("Reply error, code out of range[%d]", tag), code);
            return kFtpProtocolError;
        }
        return classify(code);
    }
}

}  // namespace

FtpConnection& ftp_connection() {
    static FtpConnection c;
    return c;
}

int ftp_read_line() {
    ReplyLimits limits = fresh_limits();
    bool closed = false;
    return read_line(limits, closed);
}

int ftp_reply_code(const char* line) {
    size_t i = 0;
    while (line[i] != '\0' && std::isspace(static_cast<unsigned char>(line[i]))) ++i;
    if (!std::isdigit(static_cast<unsigned char>(line[i]))) return -1;
    int code = 0;
    for (int digits = 0; std::isdigit(static_cast<unsigned char>(line[i])) && digits < 9; ++i) {
        code = code * 10 + (line[i] - '0');
        ++digits;
    }
    return code;
}

int ftp_reply_wait(int tag, int& code) {
    ReplyLimits limits = fresh_limits();
    return reply_within(limits, tag, code);
}

int ftp_resync(bool abort, const std::string& extra) {
    FtpConnection& c = ftp_connection();
    if (abort) ftp_send_command("ABOR\r\n");
    if (!extra.empty()) ftp_send_command(extra);
    close_data_socket();
    if (!c.connected) return -1;
    // The NOOP's 200 marks the end of whatever the transfer and the abort
    // still had to say (426, 226, 225, 451 or a refusal of the extra line);
    // none of those is ever a 200.
    if (ftp_send_command("NOOP\r\n") != 0) {
        break_connection();
        return -1;
    }
    ReplyLimits limits = fresh_limits();
    for (;;) {
        int code = -1;
        int rc = reply_within(limits, kTagResync, code);
        if (rc == kFtpReplyTimeout) return -1;  // already closed
        if (code == 200) return 0;
    }
}

bool ftp_text_breaks_line(const std::string& text) {
    return text.find_first_of(std::string("\r\n\0", 3)) != std::string::npos;
}

int ftp_send_command(const std::string& text) {
    FtpConnection& c = ftp_connection();
    if (!c.connected) return -1;
    const bool ends_line = text.size() >= 2 && text.compare(text.size() - 2, 2, "\r\n") == 0;
    if (ftp_text_breaks_line(ends_line ? text.substr(0, text.size() - 2) : text)) return -1;
    FtpState& st = state();
    size_t length = std::min(text.size(), sizeof st.command - 1);
    std::memcpy(st.command, text.data(), length);
    st.command[length] = '\0';
    return send_all(c.control, st.command, length);
}

int ftp_open(const std::string& host, const std::string& user, const std::string& password,
             int passive) {
    FtpConnection& c = ftp_connection();
    close_transfer_file();
    if (ftp_log_flag())
        info(strformat("FTP:Open [%s][%s][%s]", host.c_str(), user.c_str(), kPasswordMask), 0);
    bool was_connected = c.connected;
    if (!was_connected && tls_wanted() && !tls_available()) {
        error("FTP:TLS is not available in this build (ftptls is set)", ftp_result::kTlsFailed);
        return ftp_result::kTlsFailed;
    }
    int connected = connect_phase(host);
    if (connected != 0) {
        if (ftp_log_flag()) error("FTP:open Error", -1);
        c.listing_mode = 0;
        return connected == kConnectTlsFailed ? ftp_result::kTlsFailed : ftp_result::kOpenFailed;
    }
    // A connection that was already open keeps the address it was made to;
    // the peer address may name another server by now.
    if (!was_connected) {
        c.server_host = peer_address();
        std::memset(c.server_address, 0, sizeof c.server_address);
        if (c.server_host.find(':') == std::string::npos)
            text_to_address(c.server_host, c.server_address);
    }
    c.passive = static_cast<uint8_t>(passive & 0xFF);
    if (ftp_log_flag()) info(c.passive ? "FTP:Passive on" : "FTP:Passive off", 0);
    int result = login(user, password);
    if (result != ftp_result::kOk) ftp_quit();
    c.listing_mode = 0;
    return result;
}

void ftp_quit() {
    FtpConnection& c = ftp_connection();
    if (c.connected) {
        int code = -1;
        command_step("QUIT\r\n", kTagQuit, code);
    }
    close_sockets();
    c.connected = false;
}

int ftp_cwd(const std::string& dir) {
    info(strformat("FTP:Cwd:%s", dir.c_str()), state().last_file_error);
    int code = -1;
    command_step("CWD " + dir + "\r\n", kTagCwd, code);
    if (code == 250) return ftp_result::kOk;
    if (ftp_log_flag()) error("FTP:Cwd Failed", 0);
    return ftp_result::kCwdFailed;
}

int ftp_copy(const std::string& source, const std::string& target, int kind) {
    const char* format = (kind == 0 || kind == 10) ? "FTP:Copy:%s To:%s" : "FTP:Append:%s To:%s";
    info(strformat(format, source.c_str(), target.c_str()), 0);
    const char* word = kind == 0    ? "COPY"
                       : kind == 10 ? "COPYDEL"
                       : kind == 1  ? "APPEND"
                                    : "APPDEL";
    std::string text = std::string(word) + " " + source + " " + target + "\r\n";
    if (expect_code(text, kTagCopy, 220)) return ftp_result::kOk;
    if (ftp_log_flag()) error(strformat("FTP:Failed:%s", target.c_str()), state().last_file_error);
    return ftp_result::kPutFailed;
}

void ftp_set_options(const FtpOptions& options) {
    state().options = options;
}

const FtpOptions& ftp_options() {
    return state().options;
}

bool ftp_tls_active() {
    return state().control_tls != nullptr;
}

void ftp_set_control_port(int port) {
    state().control_port = port;
}

void ftp_set_log_flag(bool on) {
    state().log_flag = on;
}
bool ftp_log_flag() {
    return state().log_flag;
}

int ftp_last_file_error() {
    return state().last_file_error;
}

void ftp_set_reply_timeout(int ms) {
    state().reply_timeout_ms = ms;
}

void ftp_set_max_reply(size_t bytes) {
    state().max_reply = bytes > 0 ? bytes : kFtpMaxReply;
}

void ftp_reset() {
    close_sockets();
    close_transfer_file();
    ftp_connection() = FtpConnection{};
    state() = FtpState{};
}

}  // namespace ql
