// Relay protocol frames as a relay server sends them: the input arrives on
// a socket whose far end has closed and is read frame by frame. Every good
// frame's payload goes through the reply parsers (code and fields).
//
// The first byte picks the capacity of the reply buffer: '#' the full
// payload size the client uses, any other value that many bytes plus one,
// so that the "does not fit" paths are reached too.
#include <string>

#include "foundation/log.h"
#include "fuzz_support.h"
#include "network/relay.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    size_t capacity = data[0] == '#' ? ql::kRelayMaxPayload + 1 : size_t{data[0]} + 1;
    fuzz::SocketFeed feed(fuzz::bytes(data + 1, size - 1));
    if (!feed.ok()) return 0;

    ql::log_reset();
    ql::relay_reset();
    ql::relay_set_timeouts(1000, 1000);  // never reached: the peer has closed
    std::string dest(capacity, '\xEE');

    // Every frame read takes at least one byte until the stream has ended.
    for (size_t frames = 0; frames <= size; ++frames) {
        size_t length = 0;
        int rc = ql::relay_receive_frame(feed.reader(), dest.data(), capacity, length, 1000);
        if (rc == ql::relay_result::kNoHeader) break;
        if (rc != ql::relay_result::kOk) continue;
        if (length >= capacity || dest[length] != '\0') __builtin_trap();
        int code = ql::relay_reply_code(dest.data(), length);
        if (code < 0 || code > 999) __builtin_trap();
        ql::relay_split_fields(length > 3 ? dest.data() + 3 : "");
        for (int i = 0; i < 4; ++i) {
            if (ql::relay_reply_field(i).size() > ql::kRelayFieldMax) __builtin_trap();
        }
    }

    ql::relay_reset();
    ql::log_reset();
    return 0;
}
