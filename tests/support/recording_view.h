// An operator view that records every call, for tests.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "foundation/operator_view.h"

namespace testing_support {

class RecordingView final : public ql::OperatorView {
  public:
    struct Box {
        std::string text, caption;
        ql::Buttons buttons;
        ql::Icon icon;
    };

    RecordingView();   // installs itself as the process-wide view
    ~RecordingView();  // restores the discarding view

    void set_text(int item, const std::string& text) override;
    void set_enabled(int item, bool enabled) override;
    void status_list_append(const std::string& line, bool drop_oldest) override;
    void status_list_clear() override;
    int message_box(const std::string& text, const std::string& caption, ql::Buttons buttons,
                    ql::Icon icon) override;
    void post_command(int command) override;
    int bar_width_chars() override { return bar_width; }
    void set_network_flag(bool on) override;

    // Snapshots, safe to call while other threads log.
    std::string text(int item) const;
    std::vector<std::string> texts(int item) const;  // every text set, in order
    bool enabled(int item) const;                    // true when never set
    std::deque<std::string> lines() const;           // the status list now
    std::vector<Box> boxes() const;
    std::vector<int> commands() const;
    bool network_flag() const;
    // True when some status list line contains the text.
    bool has_line(const std::string& part) const;
    // has_line, waited for up to timeout_ms: for a line that another thread
    // logs after the event the test saw (a program that ended, a reply).
    bool wait_for_line(const std::string& part, int timeout_ms = 10000) const;

    int bar_width = 40;
    int next_answer = ql::answer::kOk;  // what message_box answers

  private:
    mutable std::mutex mutex_;
    std::map<int, std::vector<std::string>> texts_;
    std::map<int, bool> enabled_;
    std::deque<std::string> lines_;
    std::vector<Box> boxes_;
    std::vector<int> commands_;
    bool network_ = false;
};

}  // namespace testing_support
