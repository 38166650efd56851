// Relay frames: the length field, the sequence byte, the request/reply
// exchange and the reply fields; the process-wide relay state.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "foundation/log.h"
#include "platform/clock.h"
#include "relay_internal.h"

namespace ql {

namespace relay_detail {

RelayState& state() {
    static RelayState s;
    return s;
}

void log_line(const std::string& text) {
    log_event(text, 0, 0);
}

int send_all(SocketHandle s, const char* bytes, size_t length, size_t& sent) {
    if (tcp_send_all(s, bytes, length, sent, state().reply_timeout_ms) != socket_result::kOk) {
        return relay_result::kSendFailed;
    }
    return relay_result::kOk;
}

void close_slot(SocketHandle& slot) {
    if (slot != kNoSocket) tcp_close(slot);
    slot = kNoSocket;
}

int exchange(SocketHandle s, const char* request, size_t request_length, size_t& length,
             int& code) {
    RelayState& st = state();
    length = 0;
    code = 0;
    int rc = relay_request(s, request, request_length, st.reply.data(), st.reply.size(), length);
    if (rc == relay_result::kOk) code = relay_reply_code(st.reply.data(), length);
    return rc;
}

int exchange(SocketHandle s, const std::string& request, size_t& length, int& code) {
    return exchange(s, request.data(), request.size(), length, code);
}

const char* reply_text(size_t length) {
    const RelayState& st = state();
    return length > 3 ? st.reply.data() + 3 : "";
}

void notify(const char* event, const std::string& name) {
    std::string payload = std::string(event) + name;
    if (payload.size() > kRelayMaxPayload) payload.resize(kRelayMaxPayload);
    relay_send_frame(state().command, payload.data(), payload.size());
}

}  // namespace relay_detail

using relay_detail::RelayState;
using relay_detail::state;

namespace {

// The deadline of one reply frame, all its reads together: a server that
// sends a frame a byte at a time cannot stretch the wait past the reply
// time-out, and a stop request ends it before the next read.
struct FrameDeadline {
    uint64_t at = 0;
};

FrameDeadline deadline_after(int timeout_ms) {
    return {platform::monotonic_ms64() + static_cast<uint64_t>(std::max(timeout_ms, 0))};
}

// One receive within the deadline. Returns 0 with count > 0, or -1
// (failure, time-out, stop, or the connection closed).
int receive_within(SocketHandle s, char* buf, size_t n, const FrameDeadline& deadline, int& count) {
    count = 0;
    if (socket_stop_requested()) return -1;
    uint64_t now = platform::monotonic_ms64();
    if (now >= deadline.at) return -1;
    int wait = static_cast<int>(std::min<uint64_t>(deadline.at - now, INT32_MAX));
    if (tcp_receive(s, buf, n, wait, count) != 0 || count == 0) return -1;
    return 0;
}

// Reads exactly n bytes (looping on short reads) into buf. Returns 0, or -7
// when a read fails, times out or finds the connection closed.
int read_body(SocketHandle s, char* buf, size_t n, const FrameDeadline& deadline) {
    size_t got = 0;
    while (got < n) {
        int count = 0;
        if (receive_within(s, buf + got, n - got, deadline, count) != 0) {
            return relay_result::kShortHeader;
        }
        got += static_cast<size_t>(count);
    }
    return relay_result::kOk;
}

// Reads the 4-byte length field. Nothing at all (error, time-out, close) is
// -9; a field cut off after its first bytes is -7. The field is completed
// across reads, since the network may split it.
int read_length_field(SocketHandle s, char head[4], const FrameDeadline& deadline) {
    int count = 0;
    if (receive_within(s, head, 4, deadline, count) != 0) return relay_result::kNoHeader;
    if (count < 4) return read_body(s, head + count, 4 - static_cast<size_t>(count), deadline);
    return relay_result::kOk;
}

// The length field as a number: its leading decimal digits (0 when none).
size_t parse_length(const char head[4]) {
    size_t n = 0;
    for (int i = 0; i < 4 && head[i] >= '0' && head[i] <= '9'; ++i) n = n * 10 + (head[i] - '0');
    return n;
}

// Reads and drops a body too long for the frame buffer, so the connection
// stays in step. Returns the sequence byte through seq.
int drain_body(SocketHandle s, size_t n, const FrameDeadline& deadline, uint8_t& seq) {
    RelayState& st = state();
    bool first = true;
    while (n > 0) {
        size_t part = n < st.frame.size() ? n : st.frame.size();
        int rc = read_body(s, st.frame.data(), part, deadline);
        if (rc != relay_result::kOk) return rc;
        if (first) seq = static_cast<uint8_t>(st.frame[0]);
        first = false;
        n -= part;
    }
    return relay_result::kOk;
}

}  // namespace

int relay_send_frame(SocketHandle s, const char* payload, size_t length) {
    RelayState& st = state();
    if (length > kRelayMaxPayload) return relay_result::kSendFailed;
    char head[8];
    std::snprintf(head, sizeof head, "%4.4d", static_cast<int>(length + 1));
    std::memcpy(st.frame.data(), head, 4);
    st.frame[4] = static_cast<char>(st.sequence);
    if (length > 0) std::memcpy(st.frame.data() + 5, payload, length);
    size_t sent = 0;
    return relay_detail::send_all(s, st.frame.data(), length + 5, sent);
}

int relay_receive_frame(SocketHandle s, char* dest, size_t capacity, size_t& length,
                        int timeout_ms) {
    RelayState& st = state();
    length = 0;
    if (capacity > 0) dest[0] = '\0';
    // Both attempts share the deadline: the reply is what is waited for.
    const FrameDeadline deadline = deadline_after(timeout_ms);
    for (int attempt = 0; attempt < 2; ++attempt) {
        char head[4];
        int rc = read_length_field(s, head, deadline);
        if (rc != relay_result::kOk) return rc;
        const size_t n = parse_length(head);
        if (n == 0) return relay_result::kShortHeader;  // no room even for the sequence byte

        uint8_t seq = 0;
        if (n > kRelayMaxBody) {
            rc = drain_body(s, n, deadline, seq);
            if (rc != relay_result::kOk) return rc;
        } else {
            rc = read_body(s, st.frame.data(), n, deadline);
            if (rc != relay_result::kOk) return rc;
            seq = static_cast<uint8_t>(st.frame[0]);
        }
        if (seq != st.sequence) continue;  // dropped; a second one ends the call

        // The frame is the awaited one: the counter moves on even when the
        // frame cannot be delivered, so the next exchange stays in step.
        st.sequence = static_cast<uint8_t>(st.sequence + 1);
        const size_t payload = n - 1;
        if (n > kRelayMaxBody || capacity == 0 || payload > capacity - 1) {
            return relay_result::kFrameTooLong;
        }
        std::memcpy(dest, st.frame.data() + 1, payload);
        dest[payload] = '\0';
        length = payload;
        return relay_result::kOk;
    }
    return relay_result::kSequence;
}

int relay_request(SocketHandle s, const char* request, size_t length, char* reply, size_t capacity,
                  size_t& reply_length) {
    reply_length = 0;
    int rc = relay_send_frame(s, request, length);
    if (rc != relay_result::kOk) {
        relay_detail::log_line(strformat("IP:Socket Write Error RC=%d", rc));
        return rc;
    }
    rc = relay_receive_frame(s, reply, capacity, reply_length, state().reply_timeout_ms);
    if (rc != relay_result::kOk) {
        relay_detail::log_line(strformat("IP:Socket Read Error RC=%d", rc));
        return rc;
    }
    return relay_result::kOk;
}

int relay_reply_code(const char* payload, size_t length) {
    int code = 0;
    for (size_t i = 0; i < 3 && i < length && payload[i] >= '0' && payload[i] <= '9'; ++i) {
        code = code * 10 + (payload[i] - '0');
    }
    return code;
}

void relay_split_fields(const char* text) {
    RelayState& st = state();
    for (auto& f : st.fields) f.clear();
    int field = 0;
    for (const char* p = text; field < 4; ++p) {
        if (*p == '\0') break;
        if (*p == ',') {
            ++field;
            continue;
        }
        if (st.fields[field].size() < kRelayFieldMax) st.fields[field] += *p;
    }
}

const std::string& relay_reply_field(int i) {
    static const std::string empty;
    if (i < 0 || i > 3) return empty;
    return state().fields[i];
}

SocketHandle relay_command_socket() {
    return state().command;
}
SocketHandle relay_data_socket() {
    return state().data;
}
uint8_t relay_sequence() {
    return state().sequence;
}
void relay_set_sequence(uint8_t value) {
    state().sequence = value;
}
bool relay_stream_mode() {
    return state().stream;
}

void relay_set_timeouts(int reply_ms, int final_ms) {
    state().reply_timeout_ms = reply_ms > 0 ? reply_ms : kRelayReplyTimeoutMs;
    state().final_timeout_ms = final_ms > 0 ? final_ms : kRelayFinalTimeoutMs;
}

void relay_reset() {
    relay_close_all();
    RelayState& st = state();
    st.host.clear();
    st.sequence = 0;
    st.stream = false;
    for (auto& f : st.fields) f.clear();
    relay_set_timeouts(0, 0);
}

}  // namespace ql
