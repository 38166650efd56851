#include "console.h"

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <thread>

#include "console_view.h"
#include "foundation/line_status.h"
#include "foundation/log.h"
#include "foundation/server_state.h"
#include "foundation/settings.h"
#include "network/ftp.h"
#include "network/relay.h"
#include "network/socket.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/signals.h"
#include "profile/profile.h"
#include "serial/discovery.h"
#include "serial/port.h"
#include "terminal/communication.h"

namespace ql {

namespace {

const char* connect_word(const ServerSettings& s) {
    if (s.modem) return "modem";
    if (s.connect_kind == kConnectUsb) return "usb";
    if (s.connect_kind == kConnectIrda) return "irda";
    return "direct";
}

// What EXIT does: the thread's end posts the exit command, or, without a
// thread, the exit command is posted at once. The request is also kept in
// the view: a thread that is already past its exit-command decision when the
// request comes would otherwise leave the program running.
void request_exit(ConsoleView& view) {
    status_list_add("Quaylink Ending[C]..");
    server_state().no_exit = false;
    view.note_termination_request();
    if (server_state().worker_running) {
        server_state().stop_request = true;
    } else {
        view.post_command(command::kExit);
    }
}

// QUAYLINK_TIME_DIVISOR=n (tests and demonstrations): every wait of the
// serial line, of the communication loop and of the network clients takes
// 1/n of its time.
int g_time_divisor = 1;

void apply_time_divisor() {
    const char* text = std::getenv("QUAYLINK_TIME_DIVISOR");
    if (text == nullptr) return;
    int divisor = std::atoi(text);
    if (divisor <= 1) return;
    g_time_divisor = divisor;
    serial_set_time_divisor(divisor);
    ftp_set_reply_timeout(std::max(1, kFtpReplyTimeoutMs / divisor));
    relay_set_timeouts(std::max(1, kRelayReplyTimeoutMs / divisor),
                       std::max(1, kRelayFinalTimeoutMs / divisor));
    tcp_set_connect_timeout(std::max(1, kSocketConnectTimeoutMs / divisor));
}

void first_run() {
    settings_load();
    status_list_add("Creating Config File " + server_paths().settings_path);
    settings().commport = find_ports(nullptr);
    int failed = write_new_settings_file();
    if (failed == 0) {
        status_list_add("Settings file written with defaults: " + server_paths().settings_path);
    } else {
        log_event("Cannot write settings file " + server_paths().settings_path, 99, failed);
    }
}

constexpr int kRetryMs = 30000;     // a port that could not be opened is tried again
constexpr int kRetryLogMs = 60000;  // and the tries are said at most this often

std::string port_words() {
    const ServerSettings& s = settings();
    return s.commport_device.empty() ? "PORT=" + std::to_string(s.commport)
                                     : "PORT=" + s.commport_device;
}

// Without --exit-on-failure nobody may be there to restart the program: it
// tries the port again every 30 s and serves it once it opens (a cradle
// plugged in later). Between full starts the device is only looked for, so
// the output grows by one line a minute, not by a whole start-up each try.
// False when a termination request came first.
bool wait_for_port(ConsoleView& view) {
    static bool told = false;
    if (!told) {
        status_list_add("Communication could not start on " + port_words() +
                        ": trying again every 30 s; Ctrl+C or SIGTERM ends the program");
        told = true;
    }
    const int retry_ms = std::max(1, kRetryMs / g_time_divisor);
    const int log_ms = std::max(1, kRetryLogMs / g_time_divisor);
    static uint64_t last_start = 0;
    static uint64_t last_log = 0;
    for (;;) {
        if (view.wait_for_termination(retry_ms)) return false;
        const uint64_t now = platform::monotonic_ms64();
        // A device that opens but does not serve (no cradle answering, a
        // modem not ready) gets a full start at most once a minute.
        const bool start_due = last_start == 0 || now - last_start >= uint64_t(log_ms);
        const bool present = port_present(settings().commport) == 0;
        if (present && start_due) {
            last_start = now;
            last_log = now;
            status_list_add("Retrying " + port_words());
            return true;
        }
        if (last_log == 0 || now - last_log >= uint64_t(log_ms)) {
            last_log = now;
            status_list_add("Retrying " + port_words() + ": not ready yet");
        }
    }
}

}  // namespace

bool settings_file_needs_creating() {
    const std::string& path = server_paths().settings_path;
    if (platform::file_size(path) <= 0) return true;
    std::string value;
    int rc = profile::profile_get(path, "setup", "commport", value, "", 256);
    return rc != profile::kFound || value.empty();
}

int write_new_settings_file() {
    const ServerSettings& s = settings();
    const std::string& path = server_paths().settings_path;
    int failed = 0;
    auto put = [&](const char* key, const std::string& value) {
        if (profile::profile_put(path, "setup", key, value.c_str(), 0) != 0) ++failed;
    };
    put("connect", connect_word(s));
    put("baudrate", std::to_string(s.baudrate));
    put("commport", std::to_string(s.commport));
    put("interchardelay", std::to_string(s.interchardelay));
    put("altreadport", s.altread ? "yes" : "no");
    put("smallblock", "no");
    return failed;
}

int run_console(const ProgramOptions& options, std::FILE* out) {
    // Static: the termination watcher keeps using it until the process ends.
    static ConsoleView view;
    view.reset(out);
    set_operator_view(&view);
    server_state_reset();
    server_state().main_thread_id =
        static_cast<long>(std::hash<std::thread::id>{}(std::this_thread::get_id()));
    server_paths_init(options.settings_name);
    // A service works in its line's folder (the current directory), also
    // when its account could write to the program's folder.
    if (!options.service.empty()) {
        server_paths().default_workdir = with_trailing_separator(platform::current_directory());
    }
    settings_reset_defaults();
    line_status_configure(options.line_name, options.metrics_file);
    apply_time_divisor();

    status_list_add("Running Quaylink V2.28");
    if (!server_paths().relocation_note.empty()) status_list_add(server_paths().relocation_note);
    // Marked running before the handler is set: a request from now on (a
    // service's stop that came between two runs is handed over at once)
    // raises the stop request, which the wait below repeats until the thread
    // has ended. Posting the exit command instead would end the wait while
    // the thread, started after it, serves on.
    server_state().worker_running = true;
    platform::on_termination_request([] { request_exit(view); });

    if (settings_file_needs_creating()) first_run();

    view.set_text(item::kStatusLine, "OFFLINE");
    std::thread worker([] { communication_thread(); });
    // After SIGINT or SIGTERM: end once no thread runs, and raise the stop
    // request again while one does (a thread that is just starting clears
    // it, and the request must not be lost).
    auto may_end = [] {
        if (!server_state().worker_running.load()) return true;
        server_state().stop_request = true;
        return false;
    };
    // --exit-on-failure: a thread that ended without the exit command (the
    // port could not be opened, the modem not initialised) ends the program
    // with status 1, so that a service manager can start it again.
    // Without it, the port is tried again until it opens (wait_for_port).
    std::function<bool()> gave_up = [] { return !server_state().worker_running.load(); };
    bool failed = view.wait_for_exit(may_end, gave_up);
    while (failed && !options.exit_on_failure) {
        worker.join();
        if (!wait_for_port(view)) {
            failed = false;
            break;
        }
        server_state().worker_running = true;
        worker = std::thread([] { communication_thread(); });
        failed = view.wait_for_exit(may_end, gave_up);
    }
    if (failed) status_list_add("Communication ended without serving: exit status 1");
    platform::sleep_ms(250);
    if (worker.joinable()) worker.join();
    line_status_close();
    set_operator_view(nullptr);
    return failed ? 1 : 0;
}

}  // namespace ql
