// The communication thread and its loop: open the configured line, wait for
// a USB port or for modem calls where configured, and serve the terminal.
#include "terminal/communication.h"

#include <functional>
#include <thread>

#include "foundation/line_status.h"
#include "foundation/log.h"
#include "foundation/operator_view.h"
#include "foundation/server_state.h"
#include "foundation/settings.h"
#include "network/bridge.h"
#include "network/ftp.h"
#include "network/tls.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "serial/modem.h"
#include "serial/port.h"
#include "terminal/commands.h"
#include "terminal/dispatcher.h"
#include "terminal/xmodem.h"

namespace ql {

namespace {

constexpr int kServeStopped = 27;  // stop request or LINESTOP
constexpr int kModemInitAttempts = 3;
constexpr int kErrorFlag = 99;

bool stop_requested() {
    return server_state().stop_request.load();
}

// A pause of the line's idle waits that a stop request cuts short.
bool pause_unless_stopped(uint32_t ms) {
    return serial_pause_unless(ms, server_state().stop_request.event());
}

std::string connection_line(const ServerSettings& s) {
    if (s.modem) return "CONNECT: Modem";
    if (s.connect_kind == kConnectUsb) return "CONNECT:  USB";
    if (s.connect_kind == kConnectIrda) return "CONNECT:  IRDA";
    return "CONNECT:  Direct";
}

std::string port_number_or_path(const ServerSettings& s) {
    return s.commport_device.empty() ? strformat("%d", s.commport) : s.commport_device;
}

// The IR cradle handshake can take many seconds when no cradle answers:
// the operator sees what is being tried meanwhile.
void show_cradle_probe(const ServerSettings& s) {
    if (s.connect_kind != kConnectIrda || s.modem) return;
    operator_view().set_text(item::kStatusLine, "Looking for the IR cradle on " +
                                                    port_display_name(s.commport) + " ...");
}

void show_line_parameters(const ServerSettings& s) {
    OperatorView& view = operator_view();
    view.set_text(item::kPortLine, "PORT:  " + port_display_name(s.commport));
    view.set_text(item::kBaudLine, strformat("BAUD:  %d", s.baudrate));
    view.set_text(item::kConnectLine, connection_line(s));
}

// The databin folder of modem lines, created when missing.
void ensure_databin(const std::string& workdir) {
    std::string dir = workdir + "databin";
    if (platform::is_directory(dir)) return;
    if (platform::make_directory(dir) != 0) {
        operator_view().message_box("Failed to Create Directory\r\n" + dir, "ERROR", Buttons::kOk,
                                    Icon::kError);
    } else {
        status_list_add("Creating Dir " + dir);
    }
}

// Temporary files left in the working folder by a server that was killed
// in the middle of a transfer: nobody will finish them, and they are not
// files a terminal may fetch. Files another server still writes are kept.
void remove_stale_temp_files(const std::string& workdir) {
    int removed = platform::remove_stale_temp_files(workdir.empty() ? "." : workdir);
    if (removed > 0) log_event("Removed stale temporary files", 0, removed);
}

// The thread values shown at full verbosity: no window handle on this
// platform, then the starting thread, the worker slot and this thread.
std::string thread_line() {
    long self = static_cast<long>(std::hash<std::thread::id>{}(std::this_thread::get_id()));
    return strformat("HANDLE: %ld PTHREAD: %ld DTHREAD: %ld QLTHREAD: %ld ", 0L,
                     server_state().main_thread_id.load(), 0L, self);
}

void info(const std::string& text) {
    log_event(text, 0, 0);
}

// Hands the FTP protection settings to the client and says what they mean,
// including that this build cannot serve them.
void log_ftp_security(const ServerSettings& s) {
    FtpOptions o;
    o.tls = s.ftptls == 2   ? FtpTlsMode::kImplicit
            : s.ftptls == 1 ? FtpTlsMode::kExplicit
                            : FtpTlsMode::kOff;
    o.tls_verify = s.ftptlsverify;
    o.ca_file = s.ftpcafile;
    o.epsv = s.ftpepsv;
    ftp_set_options(o);
    if (s.ftpepsv) info("FTP EPSV ON");
    if (o.tls == FtpTlsMode::kOff) return;
    if (!tls_available()) {
        log_event("FTP TLS NOT AVAILABLE IN THIS BUILD: FTP OPENS WILL FAIL", 99, 0);
        return;
    }
    info(strformat("FTP TLS %s (%s)", o.tls == FtpTlsMode::kImplicit ? "IMPLICIT" : "EXPLICIT",
                   tls_library().c_str()));
    if (!o.tls_verify) log_event("FTP TLS CERTIFICATES NOT VERIFIED", 99, 0);
    if (!o.ca_file.empty()) info(strformat("FTP TLS CA FILE: %s", o.ca_file.c_str()));
}

// A folder without its trailing separator, as an operator types it.
std::string folder_name(std::string dir) {
    while (dir.size() > 1 && platform::is_dir_separator(dir.back())) dir.pop_back();
    return dir;
}

// "" when the folder can take the server's files, else what is wrong with
// it and what to do.
std::string folder_problem(const std::string& what, const std::string& dir,
                           const std::string& setting) {
    const std::string name = folder_name(dir);
    if (!platform::is_directory(name)) {
        return what + " " + name + " does not exist: create it or change " + setting +
               " in Settings";
    }
    if (!platform::directory_writable(name)) {
        return what + " " + name + " is not writable: give the user write access or change " +
               setting + " in Settings";
    }
    return {};
}

// Every transfer and the log need their folders: said at the start, not
// first as a failed SEND of the terminal.
void check_folders(const std::string& workdir) {
    const std::string work =
        folder_problem("Working folder", workdir.empty() ? "." : workdir, "workdir");
    if (!work.empty()) log_event(work, kErrorFlag, 0);
    // A log file that could not be opened has turned file logging off
    // already: its folder is checked whenever a log path was set.
    const std::string& log = log_path();
    if (log.empty()) return;
    size_t cut = log.size();
    while (cut > 0 && !platform::is_dir_separator(log[cut - 1])) --cut;
    const std::string log_dir = cut == 0 ? "." : log.substr(0, cut);
    // The same folder is said once.
    if (folder_name(log_dir) == folder_name(workdir.empty() ? "." : workdir)) return;
    const std::string problem = folder_problem("Log folder", log_dir, "logdir");
    if (!problem.empty()) log_event(problem, kErrorFlag, 0);
}

void log_startup_lines(const ServerSettings& s) {
    // A port named by its device path shows that path, as the port line does.
    info("COMMPORT = " + port_number_or_path(s));
    info(strformat("BAUD = %d", s.baudrate));
    info(strformat("INTER CHAR DELAY = %d", s.interchardelay));
    if (s.modem) {
        info("MODEM DEVICE");
    } else if (s.connect_kind == kConnectUsb) {
        info("USB CONNECT");
    } else if (s.connect_kind == kConnectIrda) {
        info("IRDA DEVICE");
    } else {
        info("DIRECT CONNECT");
    }
    if (s.modem) {
        for (int i = 0; i < 3; ++i)
            if (!s.init[i].empty()) info(strformat("MODEM INIT %d:%s", i + 1, s.init[i].c_str()));
    }
    if (s.altread) info("ALT READPORT");
    if (s.passive) info("FTP PASSIVE MODE ON");
    if (s.ftpdataport != 0) {
        ftp_set_data_port(s.ftpdataport);
        info(strformat("FIXED FTP CLIENT DATA PORT: %d ", s.ftpdataport));
    }
    if (s.lastftpsend) info("LAST FTP SEND FLAG ON");
    log_ftp_security(s);
    // Said with what they mean: the Debug box of the settings dialog
    // chooses full verbosity; transfer error details are always logged.
    info(log_state().verbosity == 2 ? "FULL VERBOSE MODE (Debug ticked: every step logged)"
                                    : "VERBOSE MODE (Debug unticked: commands and transfers)");
    if (log_state().debug) info("DEBUG ON (transfer error details logged)");
}

int port_failure(const ServerSettings& s) {
    server_state().minimize_pending = false;
    // Stopped during the cradle probe: nothing failed that the operator
    // has to confirm.
    if (stop_requested()) return 0;
    // The first two lines are what operators and their scripts know; the
    // third says why and what to do.
    std::string text = "COMM OPEN FAILED\r\nPORT=" + port_number_or_path(s);
    const std::string reason = port_open_failure_reason();
    if (!reason.empty()) text += "\r\n" + reason;
    operator_view().message_box(text, "COMM OPEN", Buttons::kOk, Icon::kError);
    return -1;
}

// USB virtual COM port: wait for the device, serve it, and wait again.
int run_usb(const ServerSettings& s) {
    while (settings().connect_kind == kConnectUsb) {
        log_event("Waiting For Virtual USB", 0, 0);
        operator_view().set_text(item::kStatusLine, "WAIT USB");
        line_status_state(LineState::kWaitUsb);
        while (port_present(s.commport) != 0) {
            if (stop_requested() || pause_unless_stopped(1000)) return 0;
        }
        if (stop_requested()) return 0;
        Port* port = port_open(s.commport, s.baudrate, s.connect_kind);
        if (port == nullptr) return port_failure(s);
        int rc = serve_terminal(port);
        port_close(port);
        ftp_bridge_close();
        if (rc == kServeStopped) {
            if (stop_requested() || pause_unless_stopped(3000)) return 0;
        }
    }
    return 0;
}

// Modem line: initialise, wait for a call, serve it, hang up; again.
// Returns -1 when the modem cannot be initialised (the port is closed).
int run_modem(Port* port, const ServerSettings& s) {
    int failures = 0;
    for (;;) {
        if (modem_init(port, s.init) != 0) {
            // A stop ends the dialogue early: not a failure of the modem.
            if (stop_requested()) return 0;
            if (++failures >= kModemInitAttempts) {
                log_event("MODEM INIT FAILED", 0, 0);
                serial_pause(2000);
                operator_view().message_box("MODEM INIT FAILED", "WM_MODEM", Buttons::kOk,
                                            Icon::kError);
                port_close(port);
                ftp_bridge_close();
                return -1;
            }
            // The operator may stop between attempts: no further tries and
            // no failure message for a modem nobody waits for any more.
            if (pause_unless_stopped(1000)) return 0;
            continue;
        }
        failures = 0;
        int rc = modem_wait_call(port);
        if (rc == kModemStopped) {
            modem_hangup(port);
            return 0;
        }
        if (rc != 0) continue;  // no CONNECT in time: initialise again
        int served = serve_terminal(port);
        modem_hangup(port);
        if (served == kServeStopped) return 0;
    }
}

}  // namespace

int run_communication() {
    started_program_clear();
    server_state().stop_request = false;
    set_call_number(0);
    const ServerSettings s = settings();
    xm_set_debug(log_state().debug);
    ftp_set_defaults(s.host, s.user, s.password, log_state().debug);

    log_startup_lines(s);
    crc16_table_init();

    if (s.connect_kind == kConnectUsb) return run_usb(s);

    show_cradle_probe(s);
    Port* port = port_open(s.commport, s.baudrate, s.connect_kind);
    if (port == nullptr) return port_failure(s);
    if (s.modem) {
        if (run_modem(port, s) != 0) return -1;
    } else {
        serve_terminal(port);
    }
    port_close(port);
    ftp_bridge_close();
    return 0;
}

void communication_thread() {
    OperatorView& view = operator_view();
    ServerState& state = server_state();

    settings_load();
    if (settings().workdir.empty()) settings().workdir = server_paths().default_workdir;
    const ServerSettings s = settings();
    show_line_parameters(s);
    line_status_open(port_display_name(s.commport));
    if (s.modem) ensure_databin(s.workdir);

    view.set_enabled(item::kSettingsButton, false);
    view.set_enabled(item::kLoadButton, false);
    status_list_add("Starting Communications");
    if (log_state().verbosity == 2) status_list_add(thread_line());
    info("DIR Path: " + s.workdir);
    info("CFG File: " + server_paths().settings_path);
    info("LOG File: " + log_path());
    check_folders(s.workdir);
    remove_stale_temp_files(s.workdir);
    view.set_text(item::kStartStopButton, "STOP");

    const bool failed = run_communication() == -1;
    if (failed) state.no_exit = true;
    line_status_state(failed ? LineState::kFailed : LineState::kOffline);

    // The port, baud and connection lines keep the last values tried, so
    // that the window still says which port failed or was served.
    view.set_text(item::kStatusLine, "OFFLINE");
    if (!state.no_exit) view.post_command(command::kExit);
    state.no_exit = false;
    info("Communication thread Ending");
    info("OFFLINE");

    view.set_text(item::kStartStopButton, "START");
    state.worker_running = false;
    view.set_enabled(item::kSettingsButton, true);
    view.set_enabled(item::kLoadButton, state.activate_load.load());
}

}  // namespace ql
