#include "terminal/frame.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "foundation/line_status.h"
#include "foundation/log.h"
#include "foundation/operator_view.h"
#include "platform/clock.h"

namespace ql {

namespace {

char g_fields[kFieldCount][kFieldSlotSize];
platform::Clock* g_frame_clock = nullptr;

platform::Clock& frame_clock() {
    return g_frame_clock != nullptr ? *g_frame_clock : platform::system_clock();
}

// A byte printed the way the log has always shown lead bytes: as a signed
// character in hexadecimal, so 0x02 gives "2" and 0x85 gives "ffffff85".
std::string signed_hex(uint8_t byte) {
    return strformat("%x", static_cast<unsigned>(static_cast<int>(static_cast<int8_t>(byte))));
}

bool contains(const Frame& frame, std::string_view text) {
    std::string_view data(frame.data, static_cast<size_t>(frame.count));
    return data.find(text) != std::string_view::npos;
}

void log_bytes_in(const Frame& frame) {
    if (log_state().verbosity.load() != 2) return;
    // Text between the lead byte and the last (checksum) byte, as a string.
    std::string shown;
    if (frame.count > 2) shown.assign(frame.data + 1, static_cast<size_t>(frame.count - 2));
    shown.resize(std::strlen(shown.c_str()));
    log_event(strformat("Bytes In[%d] STX[%s] %s", frame.count,
                        signed_hex(static_cast<uint8_t>(frame.data[0])).c_str(),
                        mask_command_secret(shown).c_str()),
              0, frame.count);
}

FrameKind check_command(Frame& frame) {
    int body_len = frame.count - 2;
    uint8_t expected = checksum8(frame.data + 1, body_len);
    if (expected != static_cast<uint8_t>(frame.data[frame.count - 1])) {
        line_status_line_error();
        return FrameKind::kChecksumError;
    }
    frame.data[frame.count - 1] = '\0';
    split_command(std::string_view(frame.data + 1, static_cast<size_t>(std::max(body_len, 0))));
    if (log_state().verbosity.load() == 1) {
        log_event(strformat("%s %s %s", field(0), field(1), field(2)), 0, 0);
    }
    operator_view().set_text(item::kStatusLine, field(0));
    line_status_command(field(0));
    return FrameKind::kCommand;
}

FrameKind classify(Frame& frame) {
    auto lead = static_cast<uint8_t>(frame.data[0]);
    if (lead == line::kStx) return check_command(frame);
    if (lead == line::kCan) {
        operator_view().set_text(item::kStatusLine, "READY");
        line_status_state(LineState::kReady);
        return FrameKind::kCancel;
    }
    if (contains(frame, "+++")) return FrameKind::kModemEscape;
    if (contains(frame, "NO CARRIER")) {
        log_event("CALL ENDED", 0, 0);
        return FrameKind::kNoCarrier;
    }
    return FrameKind::kOther;
}

}  // namespace

uint8_t checksum8(const void* bytes, int count) {
    const auto* p = static_cast<const uint8_t*>(bytes);
    unsigned sum = 0;
    for (int i = 0; i < count; ++i) sum += p[i];
    return static_cast<uint8_t>(sum);
}

void split_command(std::string_view body) {
    fields_reset();
    int slot = 0;
    size_t used = 0;
    for (char c : body) {
        if (c == '\0') break;
        if (c == ',') {
            if (++slot == kFieldCount) return;
            used = 0;
        } else if (used < kFieldSlotSize - 1) {
            g_fields[slot][used++] = c;
        }
    }
}

std::string mask_command_secret(std::string_view body) {
    auto starts = [](std::string_view text, std::string_view word) {
        return text.substr(0, word.size()) == word;
    };
    std::vector<std::string_view> parts;
    for (size_t pos = 0;;) {
        size_t comma = body.find(',', pos);
        parts.push_back(body.substr(pos, comma == std::string_view::npos ? comma : comma - pos));
        if (comma == std::string_view::npos) break;
        pos = comma + 1;
    }
    size_t secret = 0;
    if (parts.size() > 1 && starts(parts[1], "OPEN")) {
        if (starts(parts[0], "FTP")) secret = 4;
        if (starts(parts[0], "IPCOMM")) secret = 3;
    }
    if (secret == 0 || secret >= parts.size() || parts[secret].empty()) return std::string(body);
    std::string out;
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i > 0) out += ',';
        out += i == secret ? std::string_view(kSecretMask) : parts[i];
    }
    return out;
}

const char* field(int index) {
    if (index < 0 || index >= kFieldCount) return "";
    return g_fields[index];
}

void set_field(int index, std::string_view value) {
    if (index < 0 || index >= kFieldCount) return;
    size_t n = std::min(value.size(), static_cast<size_t>(kFieldSlotSize - 1));
    std::memcpy(g_fields[index], value.data(), n);
    std::memset(g_fields[index] + n, 0, kFieldSlotSize - n);
}

void fields_reset() {
    std::memset(g_fields, 0, sizeof g_fields);
}

namespace {

// A terminal whose upload the server cancelled answers with its own CAN and
// sends its next command right behind it, so both can arrive in one read.
// The CAN is taken on its own and the command given back to the line for
// the next read: read as one frame, the command would be lost unanswered.
void give_back_command_after_cancel(Port* port, Frame& frame) {
    int cans = 0;
    while (cans < frame.count && static_cast<uint8_t>(frame.data[cans]) == line::kCan) ++cans;
    if (cans == 0 || cans == frame.count || static_cast<uint8_t>(frame.data[cans]) != line::kStx) {
        return;
    }
    port_unread(port, frame.data + cans, frame.count - cans);
    std::memset(frame.data + cans, 0, static_cast<size_t>(frame.count - cans));
    frame.count = cans;
}

}  // namespace

FrameKind read_frame(Port* port, Frame& frame, uint32_t wait_ms, const platform::Event* wake) {
    std::memset(frame.data, 0, sizeof frame.data);
    int n = port_read(port, frame.data, kFrameMax, wait_ms, kNoBlockHint, wake);
    frame.count = std::clamp(n, 0, kFrameMax);
    frame.data[frame.count] = '\0';
    give_back_command_after_cancel(port, frame);
    if (frame.count == 0) {
        frame.kind = FrameKind::kIdle;
        return frame.kind;
    }
    log_bytes_in(frame);
    frame.kind = classify(frame);
    return frame.kind;
}

int send_reply(Port* port, uint8_t lead, char status, std::string_view text) {
    // lead, status, at most 124 text characters, checksum: fits the
    // 128-byte reply buffer with its terminator.
    char reply[kFrameMax];
    reply[0] = static_cast<char>(lead);
    int k = 0;
    if (status != '\0') {
        text = text.substr(0, std::min(text.find('\0'), text.size()));
        text = text.substr(0, std::min(text.size(), static_cast<size_t>(kReplyTextMax)));
        reply[1] = status;
        std::memcpy(reply + 2, text.data(), text.size());
        k = 1 + static_cast<int>(text.size());
        reply[1 + k] = static_cast<char>(checksum8(reply + 1, k));
    }
    int total = k > 0 ? k + 2 : 1;

    std::string shown(reply + 1, static_cast<size_t>(k));
    if (log_state().verbosity.load() == 2) {
        log_event(
            strformat("Bytes Out[%d] STX[%s] %s", total, signed_hex(lead).c_str(), shown.c_str()),
            0, total);
    } else if (status == '1') {
        log_event(
            strformat("Error Out[%d] STX[%s] %s", total, signed_hex(lead).c_str(), shown.c_str()),
            99, total);
    }
    frame_clock().sleep(kReplyPauseMs);
    port_write(port, reply, total);
    return total;
}

int send_line_answer(Port* port, FrameKind kind) {
    switch (kind) {
        case FrameKind::kChecksumError:
            return send_reply(port, line::kStx, '1', "CHECK SUM ERROR");
        case FrameKind::kNoCarrier:
        case FrameKind::kOther:
            return send_reply(port, line::kNak, '\0', "");
        default:
            return 0;
    }
}

void frame_set_clock(platform::Clock* clock) {
    g_frame_clock = clock;
}

}  // namespace ql
