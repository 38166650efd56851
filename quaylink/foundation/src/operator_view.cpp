#include "foundation/operator_view.h"

#include <atomic>

namespace ql {

namespace {

// Used until a window or the console installs itself.
class DiscardingView final : public OperatorView {
public:
    void set_text(int, const std::string&) override {}
    void set_enabled(int, bool) override {}
    void status_list_append(const std::string&, bool) override {}
    void status_list_clear() override {}
    int message_box(const std::string&, const std::string&, Buttons, Icon) override {
        return answer::kOk;
    }
    void post_command(int) override {}
    int bar_width_chars() override { return 40; }
};

DiscardingView g_discarding;
std::atomic<OperatorView*> g_view{&g_discarding};

}  // namespace

OperatorView& operator_view() { return *g_view.load(std::memory_order_acquire); }

void set_operator_view(OperatorView* view) {
    g_view.store(view != nullptr ? view : &g_discarding, std::memory_order_release);
}

}  // namespace ql

#include "foundation/server_state.h"

namespace ql {

namespace {
ServerState g_server_state;
}

ServerState& server_state() { return g_server_state; }

void server_state_reset() {
    g_server_state.stop_request = false;
    g_server_state.no_exit = false;
    g_server_state.activate_load = false;
    g_server_state.minimize_pending = false;
    g_server_state.worker_running = false;
    g_server_state.main_thread_id = 0;
}

}  // namespace ql
