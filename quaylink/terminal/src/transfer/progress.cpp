#include "terminal/progress.h"

#include <algorithm>
#include <atomic>

#include "foundation/line_status.h"
#include "foundation/log.h"
#include "foundation/operator_view.h"

namespace ql {

namespace {

// The bar text is built in a buffer of this many characters (with its
// terminator), so a bar never has more than kBarBufferSize - 1 characters.
constexpr int kBarBufferSize = 512;

struct ProgressState {
    std::atomic<bool> network{false};
    std::atomic<int> bar_width{0};
    // Coalescing: when the last running count reached the window, and
    // whether any has since the start.
    uint32_t last_shown_ms = 0;
    bool shown_since_start = false;
    platform::Clock* clock = nullptr;
};

ProgressState g_progress;

platform::Clock& progress_clock() {
    return g_progress.clock != nullptr ? *g_progress.clock : platform::system_clock();
}

const char* title_format(int kind) {
    switch (kind) {
        case progress_kind::kSerialSend:
            return "SENDING: %s : %lld";
        case progress_kind::kSerialRecv:
            return "RECEIVING: %s : %lld";
        case progress_kind::kRelaySend:
            return "IP SEND: %s : %lld";
        case progress_kind::kRelayRecv:
            return "IP RECV: %s : %lld";
        case progress_kind::kFtpSend:
            return "FTP SEND: %s : %lld";
        case progress_kind::kFtpRecv:
            return "FTP RECV: %s : %lld";
        default:
            return "%s : %lld";
    }
}

void show_start(const std::string& name, int kind, int64_t total) {
    bool network = kind > progress_kind::kSerialRecv;
    g_progress.network = network;
    OperatorView& view = operator_view();
    view.set_network_flag(network);
    view.set_text(item::kProgressTitle,
                  strformat(title_format(kind), name.c_str(), static_cast<long long>(total)));
    g_progress.bar_width = std::clamp(view.bar_width_chars(), 0, kBarBufferSize - 1);
    g_progress.shown_since_start = false;
}

void show_end() {
    OperatorView& view = operator_view();
    view.set_text(item::kProgressTitle, " ");
    view.set_text(item::kProgressPercent, " ");
    view.set_text(item::kProgressBar, " ");
    g_progress.network = false;
    view.set_network_flag(false);
}

// True when this running count should reach the window now.
bool due(int64_t total, int64_t done) {
    uint32_t now = progress_clock().now_ms();
    bool final_count = total > 0 && done >= total;
    if (g_progress.shown_since_start && !final_count &&
        now - g_progress.last_shown_ms < kProgressIntervalMs) {
        return false;
    }
    g_progress.shown_since_start = true;
    g_progress.last_shown_ms = now;
    return true;
}

void show_count(int64_t total, int64_t done) {
    // The view says how many "=" fill its bar exactly; it may have been
    // resized since the start.
    int width = std::clamp(operator_view().bar_width_chars(), 0, kBarBufferSize - 1);
    g_progress.bar_width = width;
    std::string percent_line;
    int64_t filled = 0;
    if (total > 0) {
        // done * 100 and done * width stay far inside 64 bits for any file
        // size a terminal can hold; done is capped at total so neither the
        // percentage nor the bar passes the full mark.
        int64_t capped = std::min(done, total);
        percent_line = strformat("%lld%%    %lld", static_cast<long long>(capped * 100 / total),
                                 static_cast<long long>(done));
        filled = capped * width / total;
    } else {
        percent_line = strformat("%lld", static_cast<long long>(done));
    }
    std::string bar(static_cast<size_t>(width), ' ');
    std::fill_n(bar.begin(), static_cast<size_t>(filled), '=');
    OperatorView& view = operator_view();
    view.set_text(item::kProgressPercent, percent_line);
    view.set_text(item::kProgressBar, bar);
}

// The line's status follows every transfer shown here. The odd kinds are
// the server receiving.
void report_to_line_status(const std::string& name, int kind, int64_t total, int64_t done) {
    if (done == kProgressEnd) {
        line_status_transfer_end();
    } else if (done == kProgressStart) {
        TransferPeer peer = kind >= progress_kind::kFtpSend     ? TransferPeer::kFtp
                            : kind >= progress_kind::kRelaySend ? TransferPeer::kRelay
                                                                : TransferPeer::kTerminal;
        line_status_transfer_start(kind % 2 == 1, peer, name, total);
    } else if (done > 0) {
        line_status_transfer_count(done);
    }
}

}  // namespace

void show_progress(const std::string& name, int kind, int64_t total, int64_t done) {
    report_to_line_status(name, kind, total, done);
    if (done == kProgressEnd) {
        show_end();
    } else if (done == kProgressStart) {
        show_start(name, kind, total);
    } else if (done > 0 && due(total, done)) {
        show_count(total, done);
    }
}

bool progress_network_flag() {
    return g_progress.network.load();
}

int progress_bar_width() {
    return g_progress.bar_width.load();
}

void progress_set_clock(platform::Clock* clock) {
    g_progress.clock = clock;
}

void progress_reset() {
    g_progress.network = false;
    g_progress.bar_width = 0;
    g_progress.last_shown_ms = 0;
    g_progress.shown_since_start = false;
    g_progress.clock = nullptr;
}

}  // namespace ql
