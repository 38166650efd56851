// State and helpers shared by the relay client's source files.
#pragma once

#include <array>
#include <cstddef>
#include <string>

#include "network/relay.h"

namespace ql::relay_detail {

// The one relay client of the process.
struct RelayState {
    SocketHandle command = kNoSocket;
    SocketHandle data = kNoSocket;
    std::string host;  // where the data connections go
    uint8_t sequence = 0;
    bool stream = false;
    std::string fields[4];
    int reply_timeout_ms = kRelayReplyTimeoutMs;
    int final_timeout_ms = kRelayFinalTimeoutMs;
    // Frames are built here, and bodies are read here before their payload
    // is copied out: nothing is allocated per message.
    std::array<char, kRelayFrameBuffer> frame{};
    // Reply payloads of the operations.
    std::array<char, kRelayMaxPayload + 1> reply{};
    // File bytes of packet uploads ("231" + block).
    std::array<char, 1024> block{};
    // File bytes of stream uploads and downloads.
    std::array<char, kRelayStreamPiece> piece{};
};

RelayState& state();

// One exchange with a text request on s; reply payload in state().reply.
// Returns the exchange's result and stores the reply's length and code.
int exchange(SocketHandle s, const std::string& request, size_t& length, int& code);
int exchange(SocketHandle s, const char* request, size_t request_length, size_t& length, int& code);

// The reply text after the code of the last exchange (empty when shorter).
const char* reply_text(size_t length);

// Sends a notification ("101..." + name) on the command connection; its
// result is not judged (the exchange that matters has already happened).
void notify(const char* event, const std::string& name);

// Sends all bytes, continuing a short send; a send that makes no progress
// for the reply time-out fails. Returns 0 or -8 and the count of bytes that
// went out.
int send_all(SocketHandle s, const char* bytes, size_t length, size_t& sent);

// Closes a connection slot if open and marks it "none".
void close_slot(SocketHandle& slot);

// Logs an information line with code 0, as every line of the client is.
void log_line(const std::string& text);

}  // namespace ql::relay_detail
