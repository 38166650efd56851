// The relay command bridge: one IPCOMM request from the terminal becomes
// relay client calls and one reply line.
#include <cstdlib>
#include <string>

#include "foundation/log.h"
#include "ftp_bridge_internal.h"
#include "network/bridge.h"
#include "network/relay.h"
#include "network/socket.h"

namespace ql {

namespace {

bool g_open = false;

struct Reply {
    std::string text;
    int result;
};

// The reply word of an operation's failure reply.
const char* failure_word(int op) {
    switch (op) {
        case 1:
            return "OPEN";
        case 3:
            return "DIR";
        case 5:
            return "RECV";
        case 6:
            return "CHG DIR";
        case 9:
            return "COPY";
        case 10:
            return "APPEND";
        case 13:
            return "DELETE";
        case 14:
            return "LOAD";
        default:
            return "SEND";
    }
}

// A field that goes into a request as text must not carry CR, LF or NUL: a
// relay server that reads names as lines or C strings would take a
// different name (or a second request) from it. Such a request is refused
// before anything is sent. True when refused.
bool refuse_line_breaks(int op, Reply& r) {
    const std::string& f1 = request_field(1);
    const std::string& f2 = request_field(2);
    const std::string& remote = f2.empty() ? f1 : f2;
    const std::string* bad = nullptr;
    switch (op) {
        case 1:
            bad = bridge_detail::first_line_breaker({&f2});
            break;
        case 3:
        case 6:
        case 13:
            bad = bridge_detail::first_line_breaker({&f1});
            break;
        case 4:
        case 40:
        case 41:
        case 44:
        case 5:
            bad = bridge_detail::first_line_breaker({&remote});
            break;
        case 9:
        case 10:
        case 14:
            bad = bridge_detail::first_line_breaker({&f1, &f2});
            break;
        default:
            return false;
    }
    if (bad == nullptr) return false;
    log_event(strformat("IP:Refused: CR, LF or NUL in a name or login (%s)", failure_word(op)), 99,
              relay_result::kFieldRefused);
    r = {op == 14 ? strformat("LOAD ERR:BAD CHARACTER:%d", relay_result::kFieldRefused)
                  : strformat("IP %s FAILED:%d", failure_word(op), relay_result::kFieldRefused),
         relay_result::kFieldRefused};
    return true;
}

Reply open_relay() {
    if (g_open) {
        relay_close_all();
        g_open = false;
    }
    const std::string& host = request_field(1);
    int rc = relay_open(host, request_field(2), request_field(3));
    if (rc != relay_result::kOk) return {strformat("IP OPEN FAILED:%d", rc), rc};
    g_open = true;
    const std::string peer = peer_address();
    bridge_detail::show_network_status(strformat("IP %s", (peer.empty() ? host : peer).c_str()));
    return {"IP OPEN SUCCESSFUL ^", 0};
}

Reply close_relay() {
    Reply r{"IP CLOSE N/A", 0};
    if (g_open) {
        relay_close_all();
        g_open = false;
        r.text = "IP CLOSE SUCCESSFUL";
    }
    bridge_detail::show_network_status(" ");
    return r;
}

// Operations 4, 40, 41 and 44.
Reply send_file(int op, LocalFile* local_file) {
    const std::string local = request_field(1);
    std::string remote = request_field(2);
    if (local.empty()) return {"IP SEND: EMPTY FILENAME", 1};
    if (remote.empty()) remote = local;
    const bool checked = op == 4 || op == 40;
    if (checked && sent_register_check(local) == 0) return {"IP SEND ALREADY SENT", 0};

    const bool call = op == 40 || op == 41;
    std::string call_result;
    int rc = call ? relay_send_and_call(local, remote, call_result, local_file)
                  : relay_send_file(local, remote, local_file);
    if (rc != relay_result::kOk) return {strformat("IP SEND FAILED:%d", rc), rc};
    sent_register_record(local);
    if (call) return {call_result + ",IP SEND SUCCESSFUL", 0};
    return {"IP SEND SUCCESSFUL", 0};
}

Reply receive_file(const LocalFile* local_file) {
    const std::string local = request_field(1);
    std::string remote = request_field(2);
    if (local.empty()) return {"IP RECV: EMPTY FILENAME", 1};
    if (remote.empty()) remote = local;
    int rc = relay_receive_file(local, remote, local_file);
    if (rc != relay_result::kOk) return {strformat("IP RECV FAILED:%d", rc), rc};
    return {"IP RECV SUCCESSFUL", 0};
}

// Operations 9, 10 and 13.
Reply file_op(int op) {
    const std::string& source = request_field(1);
    const std::string& target = request_field(2);
    const char* word = op == 9 ? "COPY" : (op == 10 ? "APPEND" : "DELETE");
    if (op == 13) {
        if (source.empty()) return {"IP DELETE: EMPTY SOURCE FILE", 1};
    } else {
        if (source.empty()) return {"IP COPY/APPEND: EMPTY SOURCE FILE", 1};
        if (target.empty()) return {"IP COPY/APPEND: EMPTY TARGET FILE", 1};
    }
    const int kind = op == 9 ? 0 : (op == 10 ? 1 : 2);
    int rc = relay_file_op(source, target, kind);
    if (rc != relay_result::kOk) return {strformat("IP %s FAILED:%d", word, rc), rc};
    sent_register_record(source);
    return {strformat("IP %s SUCCESSFUL", word), 0};
}

// Every operation that needs an open relay connection.
Reply run_open_operation(int op, LocalFile* local) {
    if (!g_open) return {"IP NOT OPEN", 1};
    if (Reply r; refuse_line_breaks(op, r)) return r;
    switch (op) {
        case 3: {
            int rc = relay_list(request_field(1), local);
            if (rc != relay_result::kOk) return {strformat("IP DIR FAILED:%d", rc), rc};
            return {"IP DIR SUCCESSFUL", 0};
        }
        case 4:
        case 40:
        case 41:
        case 44:
            return send_file(op, local);
        case 5:
            return receive_file(local);
        case 6: {
            int rc = relay_change_dir(request_field(1));
            if (rc != relay_result::kOk) return {strformat("IP CHG DIR FAILED:%d", rc), rc};
            return {"IP CHG DIR SUCCESSFUL", 0};
        }
        case 9:
        case 10:
        case 13:
            return file_op(op);
        default: {  // 14
            Reply r{"", 0};
            r.result = relay_load(request_field(1), request_field(2), r.text);
            return r;
        }
    }
}

bool needs_open(int op) {
    switch (op) {
        case 3:
        case 4:
        case 5:
        case 6:
        case 9:
        case 10:
        case 13:
        case 14:
        case 40:
        case 41:
        case 44:
            return true;
        default:
            return false;
    }
}

}  // namespace

int relay_bridge(const std::string& request, std::string& reply, LocalFile* local) {
    split_request(request);
    const bool log = bridge_log_flag();
    const int op = bridge_detail::request_code();
    if (log) {
        // The login text of an open never reaches a log line.
        const std::string login =
            op == 1 && !request_field(2).empty() ? kSecretMask : request_field(2);
        log_event(strformat("IP:[ %s ][ %s ][ %s ][ %s ]", request_field(0).c_str(),
                            request_field(1).c_str(), login.c_str(), request_field(3).c_str()),
                  0, 0);
    }
    Reply r;
    if (op == 1) {
        if (!refuse_line_breaks(op, r)) r = open_relay();
    } else if (op == 2) {
        r = close_relay();
    } else if (needs_open(op)) {
        r = run_open_operation(op, local);
    } else {
        r = {strformat("INVALID COMMAND:%d", op), 99};
    }
    reply = bridge_detail::fit_reply(r.text);
    if (log) log_event(strformat("IP:%s", reply.c_str()), 0, r.result);
    return r.result;
}

bool relay_bridge_open() {
    return g_open;
}

void relay_bridge_reset() {
    relay_close_all();
    g_open = false;
}

}  // namespace ql
