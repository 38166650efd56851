#include "recording_view.h"

#include <chrono>
#include <thread>

namespace testing_support {

RecordingView::RecordingView() {
    ql::set_operator_view(this);
}
RecordingView::~RecordingView() {
    ql::set_operator_view(nullptr);
}

void RecordingView::set_text(int item, const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    texts_[item].push_back(text);
}

void RecordingView::set_enabled(int item, bool enabled) {
    std::lock_guard<std::mutex> lock(mutex_);
    enabled_[item] = enabled;
}

void RecordingView::status_list_append(const std::string& line, bool drop_oldest) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (drop_oldest && !lines_.empty()) lines_.pop_front();
    lines_.push_back(line);
}

void RecordingView::status_list_clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.clear();
}

int RecordingView::message_box(const std::string& text, const std::string& caption,
                               ql::Buttons buttons, ql::Icon icon) {
    std::lock_guard<std::mutex> lock(mutex_);
    boxes_.push_back({text, caption, buttons, icon});
    return next_answer;
}

void RecordingView::post_command(int command) {
    std::lock_guard<std::mutex> lock(mutex_);
    commands_.push_back(command);
}

void RecordingView::set_network_flag(bool on) {
    std::lock_guard<std::mutex> lock(mutex_);
    network_ = on;
}

std::string RecordingView::text(int item) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = texts_.find(item);
    return it == texts_.end() || it->second.empty() ? std::string() : it->second.back();
}

std::vector<std::string> RecordingView::texts(int item) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = texts_.find(item);
    return it == texts_.end() ? std::vector<std::string>() : it->second;
}

bool RecordingView::enabled(int item) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = enabled_.find(item);
    return it == enabled_.end() ? true : it->second;
}

std::deque<std::string> RecordingView::lines() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
}

std::vector<RecordingView::Box> RecordingView::boxes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return boxes_;
}

std::vector<int> RecordingView::commands() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return commands_;
}

bool RecordingView::network_flag() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return network_;
}

bool RecordingView::has_line(const std::string& part) const {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& line : lines_)
        if (line.find(part) != std::string::npos) return true;
    return false;
}

bool RecordingView::wait_for_line(const std::string& part, int timeout_ms) const {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!has_line(part)) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

}  // namespace testing_support
