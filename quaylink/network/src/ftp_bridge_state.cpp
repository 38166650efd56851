// Request splitting and the state the two command bridges share.
#include <climits>
#include <cstdlib>

#include "foundation/operator_view.h"
#include "ftp_bridge_internal.h"
#include "network/bridge.h"

namespace ql {

namespace {

std::string g_fields[kRequestFields];

}  // namespace

namespace bridge_detail {

BridgeState& bridge_state() {
    static BridgeState s;
    return s;
}

int request_code() {
    const char* text = g_fields[0].c_str();
    char* end = nullptr;
    long long value = std::strtoll(text, &end, 10);
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

std::string fit_reply(const std::string& text) {
    return text.substr(0, 255);
}

const std::string* first_line_breaker(std::initializer_list<const std::string*> texts) {
    for (const std::string* t : texts) {
        if (t->find_first_of(std::string("\r\n\0", 3)) != std::string::npos) return t;
    }
    return nullptr;
}

void show_network_status(const std::string& text) {
    operator_view().set_text(item::kNetworkStatus, text);
}

}  // namespace bridge_detail

void split_request(const std::string& text) {
    for (auto& f : g_fields) f.clear();
    int field = 0;
    for (char c : text) {
        if (c == ',') {
            if (++field == kRequestFields) return;
            continue;
        }
        if (g_fields[field].size() < kRequestFieldMax) g_fields[field] += c;
    }
}

const std::string& request_field(int i) {
    static const std::string empty;
    if (i < 0 || i >= kRequestFields) return empty;
    return g_fields[i];
}

bool bridge_log_flag() {
    return bridge_detail::bridge_state().log;
}

bool ftp_bridge_connected() {
    return bridge_detail::bridge_state().connected;
}

void ftp_bridge_reset() {
    bridge_detail::bridge_state() = bridge_detail::BridgeState{};
    for (auto& f : g_fields) f.clear();
}

}  // namespace ql
