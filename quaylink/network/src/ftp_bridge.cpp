// The FTP command bridge: one FTP request from the terminal becomes FTP
// client calls on the one connection the bridge keeps open between
// requests, and one reply line.
#include <string>

#include "foundation/log.h"
#include "ftp_bridge_internal.h"
#include "network/bridge.h"
#include "network/ftp.h"
#include "network/socket.h"

namespace ql {

using bridge_detail::bridge_state;
using bridge_detail::BridgeState;

namespace {

constexpr size_t kDefaultMax = 63;

struct Reply {
    std::string text;
    int result;
};

const std::string& p(int i) {
    return request_field(i);
}

Reply failed(const char* what, int rc) {
    return {strformat("FTP %s FAILED:%d", what, rc), rc};
}

void remember_login(const std::string& host, const std::string& user, const std::string& password) {
    BridgeState& b = bridge_state();
    b.open_host = host;
    b.open_user = user;
    b.open_password = password;
}

// Opens with the default login when no connection is open, and with the
// login of the last open when the client closed that connection because it
// fell out of step (a reply that never ended, replies owed by a transfer
// that never came). Returns 0, or the open's result with the reply written.
int implicit_open(int passive, Reply& r) {
    BridgeState& b = bridge_state();
    if (b.connected && ftp_connection().connected) return 0;
    if (!b.connected) remember_login(b.host, b.user, b.password);
    b.connected = false;
    int rc = ftp_open(b.open_host, b.open_user, b.open_password, passive & 0xff);
    if (rc != ftp_result::kOk) {
        r = {strformat("FTP OPEN FAILED:%d", rc), rc};
        return rc;
    }
    b.connected = true;
    return 0;
}

Reply open_request(int passive) {
    BridgeState& b = bridge_state();
    if (b.connected) {
        ftp_quit();
        b.connected = false;
    }
    const std::string host = p(1).empty() ? b.host : p(1);
    const std::string user = p(2).empty() ? b.user : p(2);
    const std::string password = p(3).empty() ? b.password : p(3);
    int rc = ftp_open(host, user, password, passive & 0xff);
    if (rc != ftp_result::kOk) return {strformat("FTP OPEN FAILED:%d", rc), rc};
    remember_login(host, user, password);
    b.connected = true;
    const std::string peer = peer_address();
    bridge_detail::show_network_status(strformat("FTP %s", (peer.empty() ? host : peer).c_str()));
    return {strformat("FTP OPEN SUCCESSFUL ^%s", ""), 0};
}

Reply close_request() {
    BridgeState& b = bridge_state();
    Reply r{"FTP CLOSE N/A", 0};
    if (b.connected) {
        ftp_quit();
        b.connected = false;
        r.text = "FTP CLOSE SUCCESSFUL";
    }
    bridge_detail::show_network_status(" ");
    return r;
}

// SEND (4, with the register check) and FSEND (44, without).
Reply send_request(int code, LocalFile* local_file) {
    const std::string local = p(1);
    const std::string remote = p(2).empty() ? local : p(2);
    if (local.empty()) return {"FTP SEND: EMPTY FILENAME", 1};
    if (code == 4 && sent_register_check(local) == 0) return {"FTP SEND ALREADY SENT", 0};
    int rc = ftp_send(local, remote, local_file);
    if (rc != ftp_result::kOk) return failed("SEND", rc);
    sent_register_record(local);
    return {"FTP SEND SUCCESSFUL", 0};
}

Reply recv_request(const LocalFile* local_file) {
    const std::string local = p(1);
    const std::string remote = p(2).empty() ? local : p(2);
    if (local.empty()) return {"FTP RECV: EMPTY FILENAME", 1};
    int rc = ftp_recv(local, remote, local_file);
    if (rc != ftp_result::kOk) return failed("RECV", rc);
    return {"FTP RECV SUCCESSFUL", 0};
}

Reply dbin_request(LocalFile* local_file) {
    const std::string local = p(1);
    if (local.empty()) return {"FTP DBIN: EMPTY FILENAME", 1};
    if (sent_register_check(local) == 0) return {"FTP DBIN ALREADY SENT", 0};
    int rc = ftp_dbin(local, local_file);
    if (rc != ftp_result::kOk) return failed("DBIN", rc);
    sent_register_record(local);
    return {"FTP DBIN SUCCESSFUL", 0};
}

// COPY (9), APPEND (10), COPYDEL (11), APPDEL (12).
Reply copy_request(int code) {
    const std::string source = p(1);
    const std::string target = p(2);
    if (source.empty()) return {"FTP COPY/APPEND: EMPTY SOURCE FILE", 1};
    if (target.empty()) return {"FTP COPY/APPEND: EMPTY TARGET FILE", 1};
    const int kind = code == 9 ? 0 : code == 10 ? 1 : code == 11 ? 10 : 11;
    const char* word = (code == 9 || code == 11) ? "COPY" : "APPEND";
    int rc = ftp_copy(source, target, kind);
    if (rc != ftp_result::kOk) return failed(word, rc);
    sent_register_record(source);
    return {strformat("FTP %s SUCCESSFUL", word), 0};
}

// The reply word of a request's failure reply, as the terminal knows it.
const char* failure_word(int code) {
    switch (code) {
        case 1:
            return "OPEN";
        case 4:
        case 44:
            return "SEND";
        case 5:
            return "RECV";
        case 6:
            return "CHG DIR";
        case 9:
        case 11:
            return "COPY";
        default:
            return "APPEND";
    }
}

// A text from the terminal that goes into an FTP command line must not
// carry CR, LF or NUL: the server would take what follows for a command of
// its own. Such a request is refused before anything is sent (not even the
// implicit open or the QUIT of an open connection). True when refused.
bool refuse_line_breaks(int code, Reply& r) {
    const BridgeState& b = bridge_state();
    const std::string& remote = p(2).empty() ? p(1) : p(2);
    const std::string user = p(2).empty() ? b.user : p(2);
    const std::string password = p(3).empty() ? b.password : p(3);
    const std::string* bad = nullptr;
    switch (code) {
        case 1:
            bad = bridge_detail::first_line_breaker({&user, &password});
            break;
        case 4:
        case 44:
        case 5:
            bad = bridge_detail::first_line_breaker({&remote});
            break;
        case 6:
            bad = bridge_detail::first_line_breaker({&p(1)});
            break;
        case 9:
        case 10:
        case 11:
        case 12:
            bad = bridge_detail::first_line_breaker({&p(1), &p(2)});
            break;
        default:
            return false;
    }
    if (bad == nullptr) return false;
    // The text itself is not logged: it is the very thing that must not
    // reach a line of its own.
    log_event(strformat("FTP:Refused: CR, LF or NUL in a name or login (%s)", failure_word(code)),
              99, ftp_result::kFieldRefused);
    r = failed(failure_word(code), ftp_result::kFieldRefused);
    return true;
}

bool opens_implicitly(int code) {
    return (code >= 3 && code <= 6) || (code >= 8 && code <= 12) || code == 44;
}

Reply run(int code, int passive, LocalFile* local) {
    Reply r{"", 0};
    if (refuse_line_breaks(code, r)) return r;
    if (opens_implicitly(code) && implicit_open(passive, r) != 0) return r;
    switch (code) {
        case 1:
            return open_request(passive);
        case 2:
            return close_request();
        case 3: {
            int rc = ftp_dir(p(1), local);
            if (rc != ftp_result::kOk) return failed("DIR", rc);
            return {"FTP DIR SUCCESSFUL", 0};
        }
        case 4:
        case 44:
            return send_request(code, local);
        case 5:
            return recv_request(local);
        case 6: {
            int rc = ftp_cwd(p(1));
            if (rc != ftp_result::kOk) return failed("CHG DIR", rc);
            return {"FTP CHG DIR SUCCESSFUL", 0};
        }
        case 7:  // nothing to do on the server; kept for old terminal programs
            return {"QL CMD SUCCESSFUL", 0};
        case 8:
            return dbin_request(local);
        case 9:
        case 10:
        case 11:
        case 12:
            return copy_request(code);
        default:
            return {strformat("INVALID COMMAND:%d", code), 99};
    }
}

std::string cut_default(const std::string& text) {
    return text.substr(0, kDefaultMax);
}

}  // namespace

int ftp_bridge(int passive, const std::string& request, std::string& reply, LocalFile* local) {
    BridgeState& b = bridge_state();
    if (!b.defaults_set) {
        b.host.clear();
        b.user.clear();
        b.password.clear();
        b.defaults_set = true;
    }
    split_request(request);
    const int code = bridge_detail::request_code();
    if (b.log) {
        // The password of an OPEN never reaches a log line.
        const std::string third = code == 1 && !p(3).empty() ? kSecretMask : p(3);
        log_event(strformat("FTP:[ %s ][ %s ][ %s ][ %s ]", p(0).c_str(), p(1).c_str(),
                            p(2).c_str(), third.c_str()),
                  0, 0);
    }
    Reply r = run(code, passive, local);
    reply = bridge_detail::fit_reply(r.text);
    if (b.log) log_event(strformat("FTP:%s", reply.c_str()), 0, r.result);
    return r.result;
}

void ftp_set_defaults(const std::string& host, const std::string& user, const std::string& password,
                      int log_flag) {
    BridgeState& b = bridge_state();
    b.connected = false;
    b.host = cut_default(host);
    b.user = cut_default(user);
    b.password = cut_default(password);
    b.log = log_flag != 0;
    ftp_set_log_flag(log_flag != 0);
    b.defaults_set = true;
}

void ftp_bridge_close() {
    BridgeState& b = bridge_state();
    if (!b.connected) return;
    ftp_quit();
    b.connected = false;
}

}  // namespace ql
