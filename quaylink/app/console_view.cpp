#include "console_view.h"

#include <chrono>

#include "foundation/log.h"

namespace ql {

namespace {

// Label printed before an item's text; empty for items whose text already
// says what it is (the port, baud and connection lines).
const char* item_label(int id) {
    switch (id) {
        case item::kProgressTitle:
            return "XMIT: ";
        case item::kProgressPercent:
            return "PROGRESS: ";
        case item::kStatusLine:
            return "STATUS: ";
        case item::kNetworkStatus:
            return "NETWORK: ";
        default:
            return "";
    }
}

}  // namespace

std::string console_message_line(const std::string& text, const std::string& caption) {
    std::string flat;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            flat += " / ";
            ++i;
        } else if (text[i] == '\n' || text[i] == '\r') {
            flat += " / ";
        } else {
            flat += text[i];
        }
    }
    return "MESSAGE [" + caption + "] " + flat;
}

void ConsoleView::print(const std::string& line) {
    // Item texts and message boxes carry command words, host and file names:
    // escaped like the log, so none of them reaches the operator's terminal
    // as a line break or a control sequence.
    const std::string shown = log_escape(line);
    std::lock_guard<std::mutex> lock(mutex_);
    std::fputs(shown.c_str(), out_);
    std::fputc('\n', out_);
    std::fflush(out_);
}

void ConsoleView::set_text(int id, const std::string& text) {
    // The bar repeats the percentage line; START/STOP is a button nobody
    // can press on a console.
    if (id == item::kProgressBar || id == item::kStartStopButton) return;
    bool line_item = id == item::kPortLine || id == item::kBaudLine || id == item::kConnectLine;
    if (line_item && text.empty()) return;
    print(item_label(id) + text);
}

void ConsoleView::set_enabled(int, bool) {}

void ConsoleView::status_list_append(const std::string& line, bool) {
    print(line);
}

void ConsoleView::status_list_clear() {}

int ConsoleView::message_box(const std::string& text, const std::string& caption, Buttons buttons,
                             Icon) {
    print(console_message_line(text, caption));
    // Nobody can answer on a console: questions take the affirmative answer.
    return buttons == Buttons::kYesNo || buttons == Buttons::kYesNoCancel ? answer::kYes
                                                                          : answer::kOk;
}

void ConsoleView::post_command(int command) {
    if (command != command::kExit) return;
    std::lock_guard<std::mutex> lock(mutex_);
    exit_ = true;
    exit_posted_.notify_all();
}

void ConsoleView::reset(std::FILE* out) {
    std::lock_guard<std::mutex> lock(mutex_);
    out_ = out;
    exit_ = false;
    terminating_ = false;
}

void ConsoleView::note_termination_request() {
    std::lock_guard<std::mutex> lock(mutex_);
    terminating_ = true;
    exit_posted_.notify_all();
}

bool ConsoleView::wait_for_termination(int ms) {
    std::unique_lock<std::mutex> lock(mutex_);
    return exit_posted_.wait_for(lock, std::chrono::milliseconds(ms),
                                 [this] { return terminating_ || exit_; });
}

bool ConsoleView::wait_for_exit(const std::function<bool()>& may_end,
                                const std::function<bool()>& gave_up) {
    std::unique_lock<std::mutex> lock(mutex_);
    // The worker's end is not signalled: look again every 100 ms while a
    // termination request is pending or the caller watches for giving up.
    while (!exit_ && !(terminating_ && may_end())) {
        if (gave_up && gave_up()) return true;
        if (terminating_ || gave_up) {
            exit_posted_.wait_for(lock, std::chrono::milliseconds(100));
        } else {
            exit_posted_.wait(lock);
        }
    }
    return false;
}

}  // namespace ql
