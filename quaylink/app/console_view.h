// The operator view of console mode: every status list line and every
// change of a window item becomes one line on standard output.
#pragma once

#include <condition_variable>
#include <cstdio>
#include <functional>
#include <mutex>

#include "foundation/operator_view.h"

namespace ql {

class ConsoleView final : public OperatorView {
  public:
    explicit ConsoleView(std::FILE* out = stdout) : out_(out) {}

    void set_text(int item, const std::string& text) override;
    void set_enabled(int item, bool enabled) override;
    void status_list_append(const std::string& line, bool drop_oldest) override;
    void status_list_clear() override;
    int message_box(const std::string& text, const std::string& caption, Buttons buttons,
                    Icon icon) override;
    void post_command(int command) override;
    int bar_width_chars() override { return 40; }

    // Prints to out from now on and forgets a posted exit command and a
    // termination request, for the next run of the server in the same
    // process (a service serves session after session).
    void reset(std::FILE* out);

    // Records that the program was asked to end (SIGINT, SIGTERM).
    void note_termination_request();

    // Blocks until the exit command has been posted, or until a termination
    // request was noted and may_end() says the program may end; may_end is
    // called every 100 ms while the request is pending. When gave_up is
    // given it is called every 100 ms as well, and the wait also ends once it
    // returns true without the exit command; the result is then true.
    bool wait_for_exit(const std::function<bool()>& may_end,
                       const std::function<bool()>& gave_up = {});

    // Waits up to ms for a termination request (SIGINT, SIGTERM); true when
    // one came.
    bool wait_for_termination(int ms);

  private:
    void print(const std::string& line);

    std::FILE* out_;
    std::mutex mutex_;
    std::condition_variable exit_posted_;
    bool exit_ = false;
    bool terminating_ = false;
};

// One-line form of a message box: caption, then the text with its line
// breaks shown as " / ".
std::string console_message_line(const std::string& text, const std::string& caption);

}  // namespace ql
