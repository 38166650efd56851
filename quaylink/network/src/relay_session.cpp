// Relay connections and the one-exchange operations: open, data port,
// close, listing, directory change, copy/append/delete and remote load.
#include <string>

#include "foundation/log.h"
#include "relay_internal.h"

namespace ql {

using relay_detail::exchange;
using relay_detail::log_line;
using relay_detail::notify;
using relay_detail::RelayState;
using relay_detail::reply_text;
using relay_detail::state;

namespace {

// Cuts a text to the terminal's 256-byte reply buffer.
std::string fit_reply(const std::string& text) {
    return text.substr(0, kRelayReplyText - 1);
}

}  // namespace

int relay_open(const std::string& host, const std::string& login, const std::string& port) {
    RelayState& st = state();
    relay_detail::close_slot(st.command);  // never leak an earlier connection
    st.host = host.substr(0, 63);

    SocketHandle s = kNoSocket;
    int rc = tcp_connect(s, host, port);
    // A name says which address it reached, or which it tried.
    bool named = strip_brackets(host) != peer_address();
    if (rc != socket_result::kOk) {
        log_line(strformat("IP:Open CMD[%s][%s] RC=%d", peer_address().c_str(), port.c_str(), rc));
        if (named && rc == socket_result::kSocket)
            log_line(strformat("IP:Host [%s] tried [%s]", host.c_str(), tcp_last_tried().c_str()));
        return relay_result::kFailed;
    }
    if (named) log_line(strformat("IP:Host [%s] at [%s]", host.c_str(), peer_address().c_str()));
    st.command = s;

    size_t length = 0;
    int code = 0;
    rc = exchange(st.command, "100" + login, length, code);
    if (rc != relay_result::kOk) {
        relay_detail::close_slot(st.command);
        return rc;
    }
    if (code != 0) {
        log_line(strformat("IP:User Login Error RC=%d", code));
        relay_detail::close_slot(st.command);
        return code;
    }
    return relay_result::kOk;
}

int relay_open_data() {
    RelayState& st = state();
    // A load leaves its data connection open; one slot means closing it.
    relay_detail::close_slot(st.data);

    size_t length = 0;
    int code = 0;
    int rc = exchange(st.command, "150", length, code);
    if (rc != relay_result::kOk) return rc;
    if (code != 0) {
        log_line(strformat("IP:Port Cmd Error RC=%d", code));
        return code;
    }
    relay_split_fields(reply_text(length));
    const std::string port = st.fields[1];
    SocketHandle s = kNoSocket;
    rc = tcp_connect(s, st.host, port);
    if (rc != socket_result::kOk) {
        log_line(strformat("IP:Open DATA[%s][%s] RC=%d", st.host.c_str(), port.c_str(), rc));
        return relay_result::kFailed;
    }
    st.data = s;
    return relay_result::kOk;
}

void relay_close_all() {
    RelayState& st = state();
    relay_detail::close_slot(st.data);
    relay_detail::close_slot(st.command);
}

int relay_list(const std::string& local, const LocalFile* held) {
    RelayState& st = state();
    size_t length = 0;
    int code = 0;
    int rc = exchange(st.command, "200" + local, length, code);
    if (rc != relay_result::kOk) return rc;
    if (code != 0) {
        log_line(strformat("IP:Dir Error RC=%d", code));
        return code;
    }
    relay_split_fields(reply_text(length));
    const std::string remote = st.fields[0];  // the download splits fields again
    rc = relay_receive_file(local, remote, held);
    if (rc != relay_result::kOk) return rc;
    return exchange(st.command, "210" + remote, length, code);
}

int relay_change_dir(const std::string& dir) {
    size_t length = 0;
    int code = 0;
    int rc = exchange(state().command, "260" + dir, length, code);
    if (rc != relay_result::kOk) return rc;
    if (code != 0) log_line(strformat("IP:Cwd Error RC=%d", code));
    return code;
}

int relay_file_op(const std::string& source, const std::string& target, int kind) {
    std::string request;
    switch (kind) {
        case 0:
            request = "250" + source + "," + target;
            break;
        case 1:
            request = "240" + source + "," + target;
            break;
        case 2:
            request = "210" + source;
            break;
        default:
            return relay_result::kFailed;
    }
    size_t length = 0;
    int code = 0;
    int rc = exchange(state().command, request, length, code);
    if (rc != relay_result::kOk) return rc;
    if (code != 0) log_line(strformat("IP:Copy/Append/Del Error RC=%d", code));
    return code;
}

int relay_load(const std::string& first, const std::string& second, std::string& reply) {
    RelayState& st = state();
    reply.clear();
    int rc = relay_open_data();
    if (rc != relay_result::kOk) {
        reply = strformat("LOAD ERR:PORT CMD FAILED:%d", rc);
        return relay_result::kCannotStart;
    }
    size_t length = 0;
    int code = 0;
    rc = exchange(st.data, "300" + first + "," + second, length, code);
    if (rc != relay_result::kOk) {
        reply = strformat("LOAD ERR:LOAD CMD FAILED:%d", rc);
        return relay_result::kCannotStart;
    }
    notify("101300", first);

    int result = relay_result::kOk;
    const char* event = "101303";
    for (int polls = 0;;) {
        if (code == 0) {
            reply = fit_reply(reply_text(length));
            event = "101302";
            break;
        }
        if (code != 888) {
            log_line(strformat("IP:Load Error RC=%d %s", code, reply_text(length)));
            reply = fit_reply(std::string(st.reply.data(), length));
            result = code;
            break;
        }
        rc = exchange(st.data, "301", length, code);
        if (rc != relay_result::kOk) {
            reply = strformat("LOAD ERR:POLL CMD FAILED:%d", rc);
            result = relay_result::kCannotStart;
            break;
        }
        if (++polls == kRelayLoadPolls) {
            reply = "TIMEOUT ERROR";
            result = relay_result::kLoadTimeout;
            break;
        }
    }
    notify(event, first);
    return result;
}

}  // namespace ql
