#include "foundation/line_status.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "foundation/flat_json.h"
#include "foundation/log.h"
#include "foundation/settings.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/process_info.h"
#include "profile/profile.h"

namespace ql {

namespace {

// While only a transfer's count moves, the files are rewritten at most this
// often.
constexpr uint64_t kCountIntervalMs = 1000;
constexpr const char* kDefaultStatusName = "quaylink.status";

struct Publisher {
    std::mutex mutex;
    std::condition_variable wake;     // the writer: something to publish
    std::condition_variable written;  // flush: the writer caught up
    LineStatus status;
    std::string cli_name, cli_metrics;
    std::string status_path, metrics_path;
    uint64_t transfer_start_ms = 0;
    bool pending_file = false;  // a transfer ended, its command's outcome not yet known
    bool pending_in = false;
    uint64_t changes = 0;  // bumped by every change
    uint64_t due = 0;      // the change the writer should publish up to
    uint64_t published = 0;
    uint64_t last_write_ms = 0;
    bool held = false;  // a count waits for its second to be up
    bool stopping = false;
    bool warned = false;  // a failed write was logged once
    std::thread writer;

    // A program that never closed the status (a test running the
    // communication thread in-process) must still end cleanly: the writer
    // is stopped here, without a last write.
    ~Publisher() {
        {
            std::lock_guard<std::mutex> lock(mutex);
            stopping = true;
            due = published;
            wake.notify_one();
        }
        if (writer.joinable()) writer.join();
    }
};

Publisher g;

std::string base_name_without_extension(const std::string& path) {
    size_t start = 0;
    for (size_t i = 0; i < path.size(); ++i)
        if (platform::is_dir_separator(path[i])) start = i + 1;
    std::string name = path.substr(start);
    size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0) name.erase(dot);
    return name;
}

std::string in_workdir(const std::string& name) {
    if (name.empty() || platform::is_absolute_path(name)) return name;
    std::string dir = effective_workdir();
    return dir.empty() ? name : with_trailing_separator(dir) + name;
}

std::string setup_value(const char* key) {
    std::string value;
    int rc = profile::profile_get(server_paths().settings_path, "setup", key, value, "", 256);
    return rc == profile::kFound ? value : std::string();
}

const char* connect_word(const ServerSettings& s) {
    if (s.modem) return "modem";
    if (s.connect_kind == kConnectUsb) return "usb";
    if (s.connect_kind == kConnectIrda) return "irda";
    return "direct";
}

// Call with the lock held. urgent: a change of state or counter; otherwise
// only a count moved, which waits for its turn.
void changed_locked(bool urgent) {
    g.status.updated = wall_seconds();
    ++g.changes;
    if (!g.writer.joinable()) return;
    if (urgent || platform::monotonic_ms64() - g.last_write_ms >= kCountIntervalMs) {
        g.due = g.changes;
        g.wake.notify_one();
    } else if (!g.held) {
        g.held = true;
        g.wake.notify_one();
    }
}

void set_state_locked(LineState state) {
    if (state != LineState::kBusy && state != LineState::kTransfer) g.status.command.clear();
    if (g.status.state == state) return;
    g.status.state = state;
    g.status.state_since = wall_seconds();
}

void publish(const LineStatus& s, const std::string& status_path, const std::string& metrics_path) {
    int err = 0;
    std::string failed;
    if (!status_path.empty()) {
        err = platform::write_file_atomic(status_path, line_status_json(s), 0644);
        if (err != 0) failed = status_path;
    }
    if (!metrics_path.empty()) {
        int rc = platform::write_file_atomic(metrics_path, line_status_metrics(s), 0644);
        if (rc != 0 && err == 0) {
            err = rc;
            failed = metrics_path;
        }
    }
    if (err == 0) return;
    bool first = false;
    {
        std::lock_guard<std::mutex> lock(g.mutex);
        first = !g.warned;
        g.warned = true;
    }
    // Said once: a folder that cannot be written stays so, and every
    // following change would say it again.
    if (first) log_event("Cannot write status file " + failed, 99, err);
}

void writer_loop() {
    std::unique_lock<std::mutex> lock(g.mutex);
    auto urgent = [] { return g.due > g.published || g.stopping; };
    for (;;) {
        g.wake.wait(lock, [&urgent] { return urgent() || g.held; });
        if (g.held && !urgent()) {
            // A count held back goes out when its second is up (sooner
            // with anything urgent): the only timed wait, and only while a
            // transfer moves.
            uint64_t since = platform::monotonic_ms64() - g.last_write_ms;
            if (since < kCountIntervalMs)
                g.wake.wait_for(lock, std::chrono::milliseconds(kCountIntervalMs - since), urgent);
            if (!g.stopping) g.due = g.changes;
        }
        g.held = false;
        if (g.due <= g.published) break;  // stopping with nothing left
        uint64_t target = g.due;
        LineStatus copy = g.status;
        std::string status_path = g.status_path, metrics_path = g.metrics_path;
        lock.unlock();
        publish(copy, status_path, metrics_path);
        lock.lock();
        g.published = target;
        g.last_write_ms = platform::monotonic_ms64();
        g.written.notify_all();
    }
    g.written.notify_all();
}

void stop_writer() {
    std::thread writer;
    {
        std::lock_guard<std::mutex> lock(g.mutex);
        g.stopping = true;
        g.wake.notify_one();
        writer = std::move(g.writer);
    }
    if (writer.joinable()) writer.join();
    std::lock_guard<std::mutex> lock(g.mutex);
    g.stopping = false;
}

void settle_pending_locked(bool ok) {
    if (!g.pending_file) return;
    g.pending_file = false;
    if (ok) ++(g.pending_in ? g.status.counters.files_received : g.status.counters.files_sent);
}

std::string label_value(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\\' || c == '"') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else {
            out += c;
        }
    }
    return out;
}

class MetricsText {
  public:
    explicit MetricsText(const std::string& line) : line_("line=\"" + label_value(line) + "\"") {}

    void family(const char* name, const char* type, const char* help) {
        name_ = name;
        text_ +=
            std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
    }
    void sample(int64_t value, const std::string& labels = "") {
        text_ += name_ + "{" + line_ + (labels.empty() ? "" : "," + labels) + "} " +
                 std::to_string(value) + "\n";
    }
    const std::string& text() const { return text_; }

  private:
    std::string line_, name_, text_;
};

const char* peer_word(TransferPeer p) {
    switch (p) {
        case TransferPeer::kFtp:
            return "ftp";
        case TransferPeer::kRelay:
            return "relay";
        default:
            return "terminal";
    }
}

// "never", or how long ago.
std::string ago(int64_t when, int64_t now) {
    return when > 0 ? duration_text(now - when) + " ago" : "never";
}

}  // namespace

std::string duration_text(int64_t seconds) {
    if (seconds < 0) seconds = 0;
    if (seconds < 120) return strformat("%lld s", static_cast<long long>(seconds));
    if (seconds < 7200) return strformat("%lld min", static_cast<long long>(seconds / 60));
    if (seconds < 172800) return strformat("%lld h", static_cast<long long>(seconds / 3600));
    return strformat("%lld d", static_cast<long long>(seconds / 86400));
}

int64_t wall_seconds() {
    using namespace std::chrono;
    return duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
}

const char* line_state_name(LineState state) {
    static const char* const kNames[kLineStateCount] = {"STARTING", "WAIT USB", "WAITING FOR CALL",
                                                        "READY",    "BUSY",     "TRANSFER",
                                                        "OFFLINE",  "FAILED",   "ENDED"};
    auto i = static_cast<int>(state);
    return i >= 0 && i < kLineStateCount ? kNames[i] : "UNKNOWN";
}

void line_status_configure(const std::string& name, const std::string& metrics_file) {
    std::lock_guard<std::mutex> lock(g.mutex);
    g.cli_name = name;
    g.cli_metrics = metrics_file;
    g.status.pid = platform::current_process_id();
    g.status.version = QL_PROGRAM_VERSION;
    if (g.status.started == 0) g.status.started = wall_seconds();
}

void line_status_open(const std::string& port) {
    const std::string status_setting = setup_value("statusfile");
    const std::string metrics_setting = setup_value("metricsfile");
    const ServerSettings s = settings();
    std::lock_guard<std::mutex> lock(g.mutex);
    LineStatus& st = g.status;
    st.pid = platform::current_process_id();
    st.version = QL_PROGRAM_VERSION;
    if (st.started == 0) st.started = wall_seconds();
    st.name =
        g.cli_name.empty() ? base_name_without_extension(server_paths().settings_path) : g.cli_name;
    st.connect = connect_word(s);
    st.port = port;
    // statusfile=off: the line keeps no status file (the metrics may still be on).
    g.status_path = status_setting == "off"
                        ? std::string()
                        : in_workdir(status_setting.empty() ? kDefaultStatusName : status_setting);
    g.metrics_path = in_workdir(g.cli_metrics.empty() ? metrics_setting : g.cli_metrics);
    set_state_locked(LineState::kStarting);
    if (!g.writer.joinable()) g.writer = std::thread(writer_loop);
    changed_locked(true);
}

void line_status_state(LineState state) {
    std::lock_guard<std::mutex> lock(g.mutex);
    LineState before = g.status.state;
    set_state_locked(state);
    if (state != LineState::kTransfer) g.status.transferring = false;
    // READY after a command, with nothing else changed, still tells a watcher
    // the command is over.
    if (before != state || state != LineState::kReady) changed_locked(true);
}

void line_status_command(const std::string& word) {
    std::lock_guard<std::mutex> lock(g.mutex);
    g.status.counters.commands++;
    g.status.last_frame_time = wall_seconds();
    g.status.last_frame_command = word;
    set_state_locked(LineState::kBusy);
    g.status.command = word;
    changed_locked(true);
}

void line_status_command_failed() {
    std::lock_guard<std::mutex> lock(g.mutex);
    g.status.counters.commands_failed++;
    changed_locked(true);
}

void line_status_session(long call_number) {
    std::lock_guard<std::mutex> lock(g.mutex);
    g.status.counters.sessions++;
    g.status.call_number = call_number;
    changed_locked(true);
}

void line_status_line_error() {
    std::lock_guard<std::mutex> lock(g.mutex);
    g.status.counters.line_errors++;
    changed_locked(true);
}

void line_status_transfer_start(bool incoming, TransferPeer peer, const std::string& file,
                                int64_t total) {
    std::lock_guard<std::mutex> lock(g.mutex);
    LineStatus& st = g.status;
    std::string command = st.command;
    set_state_locked(LineState::kTransfer);
    st.command = command;
    st.transferring = true;
    st.transfer_in = incoming;
    st.transfer_peer = peer;
    st.transfer_file = file;
    st.transfer_total = total;
    st.transfer_done = 0;
    st.transfer_rate = 0;
    g.transfer_start_ms = platform::monotonic_ms64();
    changed_locked(true);
}

void line_status_transfer_count(int64_t done) {
    std::lock_guard<std::mutex> lock(g.mutex);
    LineStatus& st = g.status;
    if (!st.transferring) return;
    st.transfer_done = done;
    uint64_t elapsed = platform::monotonic_ms64() - g.transfer_start_ms;
    st.transfer_rate = elapsed > 0 ? done * 1000 / static_cast<int64_t>(elapsed) : 0;
    changed_locked(false);
}

void line_status_transfer_end() {
    std::lock_guard<std::mutex> lock(g.mutex);
    LineStatus& st = g.status;
    if (!st.transferring) return;
    st.transferring = false;
    (st.transfer_in ? st.counters.bytes_received : st.counters.bytes_sent) += st.transfer_done;
    g.pending_file = true;
    g.pending_in = st.transfer_in;
    std::string command = st.command;
    set_state_locked(LineState::kBusy);
    st.command = command;
    changed_locked(true);
}

void line_status_transfer_result(bool ok) {
    std::lock_guard<std::mutex> lock(g.mutex);
    settle_pending_locked(ok);
    changed_locked(true);
}

void line_status_network(NetworkKind kind, bool ok) {
    std::lock_guard<std::mutex> lock(g.mutex);
    LineCounters& c = g.status.counters;
    if (kind == NetworkKind::kFtp) {
        c.ftp_operations++;
        if (!ok) c.ftp_failures++;
    } else {
        c.relay_operations++;
        if (!ok) c.relay_failures++;
    }
    settle_pending_locked(ok);
    changed_locked(true);
}

void line_status_error(const std::string& text) {
    std::lock_guard<std::mutex> lock(g.mutex);
    g.status.last_error = text;
    g.status.last_error_time = wall_seconds();
    changed_locked(true);
}

void line_status_close() {
    {
        std::lock_guard<std::mutex> lock(g.mutex);
        if (!g.writer.joinable()) return;
        set_state_locked(LineState::kEnded);
        g.status.transferring = false;
        changed_locked(true);
    }
    stop_writer();
}

LineStatus line_status_snapshot() {
    std::lock_guard<std::mutex> lock(g.mutex);
    return g.status;
}

void line_status_flush() {
    std::unique_lock<std::mutex> lock(g.mutex);
    if (!g.writer.joinable()) return;
    g.due = g.changes;
    g.wake.notify_one();
    uint64_t target = g.due;
    g.written.wait(lock, [target] { return g.published >= target || !g.writer.joinable(); });
}

std::string line_status_file() {
    std::lock_guard<std::mutex> lock(g.mutex);
    return g.status_path;
}

std::string line_status_metrics_file() {
    std::lock_guard<std::mutex> lock(g.mutex);
    return g.metrics_path;
}

void line_status_reset() {
    stop_writer();
    std::lock_guard<std::mutex> lock(g.mutex);
    g.status = LineStatus{};
    g.cli_name.clear();
    g.cli_metrics.clear();
    g.status_path.clear();
    g.metrics_path.clear();
    g.pending_file = false;
    g.changes = g.due = g.published = 0;
    g.last_write_ms = 0;
    g.held = false;
    g.warned = false;
}

bool line_status_owns(const std::string& dir, const std::string& name) {
    const std::string path = dir.empty() ? name : with_trailing_separator(dir) + name;
    std::lock_guard<std::mutex> lock(g.mutex);
    return path == g.status_path || path == g.metrics_path;
}

std::string line_status_json(const LineStatus& s) {
    FlatObject o;
    flat_put(o, "format", int64_t{1});
    flat_put(o, "line", s.name);
    flat_put(o, "version", s.version);
    flat_put(o, "pid", int64_t{s.pid});
    flat_put_time(o, "started", s.started);
    flat_put_time(o, "updated", s.updated);
    flat_put(o, "connect", s.connect);
    flat_put(o, "port", s.port);
    flat_put(o, "state", line_state_name(s.state));
    flat_put_time(o, "state_since", s.state_since);
    flat_put(o, "command", s.command);
    flat_put(o, "transfer_direction", s.transferring ? (s.transfer_in ? "in" : "out") : "");
    flat_put(o, "transfer_peer", s.transferring ? peer_word(s.transfer_peer) : "");
    flat_put(o, "transfer_file", s.transferring ? s.transfer_file : "");
    flat_put(o, "transfer_done", s.transferring ? s.transfer_done : 0);
    flat_put(o, "transfer_total", s.transferring ? s.transfer_total : 0);
    flat_put(o, "transfer_rate", s.transferring ? s.transfer_rate : 0);
    flat_put_time(o, "last_frame_time", s.last_frame_time);
    flat_put(o, "last_frame_command", s.last_frame_command);
    flat_put(o, "call_number", int64_t{s.call_number});
    const LineCounters& c = s.counters;
    flat_put(o, "sessions", c.sessions);
    flat_put(o, "commands", c.commands);
    flat_put(o, "commands_failed", c.commands_failed);
    flat_put(o, "files_received", c.files_received);
    flat_put(o, "files_sent", c.files_sent);
    flat_put(o, "bytes_received", c.bytes_received);
    flat_put(o, "bytes_sent", c.bytes_sent);
    flat_put(o, "ftp_operations", c.ftp_operations);
    flat_put(o, "ftp_failures", c.ftp_failures);
    flat_put(o, "relay_operations", c.relay_operations);
    flat_put(o, "relay_failures", c.relay_failures);
    flat_put(o, "line_errors", c.line_errors);
    flat_put_time(o, "last_error_time", s.last_error_time);
    flat_put(o, "last_error", s.last_error);
    return write_flat_json(o);
}

std::string line_status_metrics(const LineStatus& s) {
    MetricsText m(s.name);
    const LineCounters& c = s.counters;
    const bool up = s.state != LineState::kEnded;
    m.family("quaylink_up", "gauge", "1 while the server of the line runs.");
    m.sample(up ? 1 : 0);
    m.family("quaylink_build_info", "gauge", "The server's version, as a label.");
    m.sample(1, "version=\"" + label_value(s.version) + "\"");
    m.family("quaylink_start_time_seconds", "gauge", "When the server started.");
    m.sample(s.started);
    m.family("quaylink_state", "gauge", "1 for the line's current state, 0 for the others.");
    for (int i = 0; i < kLineStateCount; ++i) {
        auto state = static_cast<LineState>(i);
        m.sample(state == s.state ? 1 : 0, std::string("state=\"") + line_state_name(state) + "\"");
    }
    m.family("quaylink_state_since_timestamp_seconds", "gauge", "When the current state began.");
    m.sample(s.state_since);
    m.family("quaylink_last_terminal_frame_timestamp_seconds", "gauge",
             "When the terminal's last command frame came in (0: none yet).");
    m.sample(s.last_frame_time);
    m.family("quaylink_sessions_total", "counter", "Connections or calls served.");
    m.sample(c.sessions);
    m.family("quaylink_commands_total", "counter", "Terminal commands by result.");
    m.sample(c.commands - c.commands_failed, "result=\"ok\"");
    m.sample(c.commands_failed, "result=\"failed\"");
    m.family("quaylink_transfer_files_total", "counter", "Files moved completely, by direction.");
    m.sample(c.files_received, "direction=\"in\"");
    m.sample(c.files_sent, "direction=\"out\"");
    m.family("quaylink_transfer_bytes_total", "counter",
             "Bytes moved by ended transfers, by direction.");
    m.sample(c.bytes_received, "direction=\"in\"");
    m.sample(c.bytes_sent, "direction=\"out\"");
    m.family("quaylink_network_operations_total", "counter",
             "FTP and relay operations by protocol and result.");
    m.sample(c.ftp_operations - c.ftp_failures, "protocol=\"ftp\",result=\"ok\"");
    m.sample(c.ftp_failures, "protocol=\"ftp\",result=\"failed\"");
    m.sample(c.relay_operations - c.relay_failures, "protocol=\"relay\",result=\"ok\"");
    m.sample(c.relay_failures, "protocol=\"relay\",result=\"failed\"");
    m.family("quaylink_line_errors_total", "counter",
             "Bad checksums and refused blocks on the serial line.");
    m.sample(c.line_errors);
    m.family("quaylink_last_error_timestamp_seconds", "gauge",
             "When the last error was logged (0: none).");
    m.sample(s.last_error_time);
    m.family("quaylink_transfer_progress_bytes", "gauge", "Bytes done of the transfer under way.");
    m.sample(s.transferring ? s.transfer_done : 0);
    return m.text();
}

std::string line_status_details(const LineStatus& s, int64_t now) {
    const LineCounters& c = s.counters;
    std::string out;
    auto row = [&out](const char* label, const std::string& value) {
        out += std::string(label) + ": " + value + "\n";
    };
    row("Line", s.name);
    row("Port", s.port + " (" + s.connect + ")");
    row("State", std::string(line_state_name(s.state)) + " for " +
                     duration_text(s.state_since > 0 ? now - s.state_since : 0));
    row("Started", ago(s.started, now));
    row("Last terminal frame", s.last_frame_time > 0
                                   ? ago(s.last_frame_time, now) + ", " + s.last_frame_command
                                   : "never");
    row("Sessions", std::to_string(c.sessions));
    row("Commands", strformat("%lld (%lld failed)", static_cast<long long>(c.commands),
                              static_cast<long long>(c.commands_failed)));
    row("Files in / out", strformat("%lld / %lld", static_cast<long long>(c.files_received),
                                    static_cast<long long>(c.files_sent)));
    row("Bytes in / out", strformat("%lld / %lld", static_cast<long long>(c.bytes_received),
                                    static_cast<long long>(c.bytes_sent)));
    row("FTP operations", strformat("%lld (%lld failed)", static_cast<long long>(c.ftp_operations),
                                    static_cast<long long>(c.ftp_failures)));
    row("Relay operations",
        strformat("%lld (%lld failed)", static_cast<long long>(c.relay_operations),
                  static_cast<long long>(c.relay_failures)));
    row("Line errors", std::to_string(c.line_errors));
    row("Last error",
        s.last_error_time > 0 ? ago(s.last_error_time, now) + ", " + s.last_error : "none");
    return out;
}

}  // namespace ql
