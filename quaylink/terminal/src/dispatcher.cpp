// The command loop and its command, FTP and IPCOMM tables.
#include "terminal/dispatcher.h"

#include <cstdlib>
#include <cstring>

#include "foundation/line_status.h"
#include "foundation/log.h"
#include "foundation/operator_view.h"
#include "foundation/server_state.h"
#include "foundation/settings.h"
#include "network/bridge.h"
#include "network/ftp.h"
#include "platform/beneath.h"
#include "platform/clock.h"
#include "serial/modem.h"
#include "terminal/frame.h"
#include "terminal/xmodem.h"

namespace ql {

namespace {

constexpr int kErrorFlag = 99;
constexpr int kIdleReadsAllowed = 6;  // the 7th empty read on a modem line ends the call
constexpr uint32_t kAckWaitMs = 5000;
constexpr uint32_t kBeforeReceiveMs = 500;

struct CommandWord {
    const char* word;
    int bytes;
    Command command;
};

// In the order the words are tried; a later fitting row wins.
constexpr CommandWord kCommands[] = {
    {"LINEBID", 7, Command::kLinebid},
    {"LINESTOP", 8, Command::kLinestop},
    {"GETCALLNO", 8, Command::kGetcallno},
    {"CWD", 3, Command::kCwd},
    {"DATETIME", 8, Command::kDatetime},
    {"SEND", 4, Command::kSend},
    {"RECV", 4, Command::kRecv},
    {"DIR", 3, Command::kDir},
    {"COPY", 4, Command::kCopy},
    {"COPYD", 5, Command::kCopyGiven},
    {"APPEND", 6, Command::kAppend},
    {"APPENDD", 7, Command::kAppendGiven},
    {"DELETE", 6, Command::kDelete},
    {"DELETED", 7, Command::kDeleteGiven},
    {"LOAD", 4, Command::kLoad},
    {"LOADD", 5, Command::kLoadGiven},
    {"SYSTEM", 6, Command::kSystem},
    {"EXEC", 4, Command::kExec},
    {"EXECD", 5, Command::kExecGiven},
    {"STAT", 4, Command::kStat},
    {"FTP", 3, Command::kFtp},
    {"IPCOMM", 6, Command::kIpcomm},
};

constexpr SubCommand kFtpTable[] = {
    {"OPEN", 4, "1", NameMode::kPlain},      {"CLOSE", 5, "2", NameMode::kPlain},
    {"DIR", 3, "3", NameMode::kLocal},       {"SEND", 4, "4", NameMode::kTransfer},
    {"FSEND", 5, "44", NameMode::kTransfer}, {"RECV", 4, "5", NameMode::kTransfer},
    {"CWD", 3, "6", NameMode::kPlain},       {"HARBOR", 6, "7", NameMode::kPlain},
    {"DBIN", 4, "8", NameMode::kLocal},      {"COPY", 4, "9", NameMode::kPlain},
    {"APPEND", 6, "10", NameMode::kPlain},   {"COPYDEL", 7, "11", NameMode::kPlain},
    {"APPDEL", 6, "12", NameMode::kPlain},
};

constexpr SubCommand kRelayTable[] = {
    {"OPEN", 4, "1", NameMode::kPlain},       {"CLOSE", 5, "2", NameMode::kPlain},
    {"DIR", 3, "3", NameMode::kLocal},        {"SEND", 4, "4", NameMode::kTransfer},
    {"FSEND", 5, "44", NameMode::kTransfer},  {"CSEND", 5, "40", NameMode::kTransfer},
    {"FCSEND", 6, "41", NameMode::kTransfer}, {"RECV", 4, "5", NameMode::kTransfer},
    {"CWD", 3, "6", NameMode::kPlain},        {"COP", 3, "9", NameMode::kPlain},
    {"APP", 3, "10", NameMode::kPlain},       {"DEL", 3, "13", NameMode::kPlain},
    {"LOAD", 4, "14", NameMode::kPlain},
};

// The word begins with the keyword's first `bytes` characters.
bool fits(const std::string& word, const char* keyword, int bytes) {
    return std::strncmp(word.c_str(), keyword, static_cast<size_t>(bytes)) == 0;
}

template <size_t N>
const SubCommand* last_fitting(const SubCommand (&table)[N], const std::string& word) {
    const SubCommand* found = nullptr;
    for (const SubCommand& row : table) {
        if (fits(word, row.word, row.bytes)) found = &row;
    }
    return found;
}

// The name a sub-command hands on, by its name mode.
std::string request_name(const std::string& workdir, Fields& f, NameMode mode) {
    if (mode == NameMode::kPlain) return f[2];
    if (mode == NameMode::kTransfer && f[3].empty()) f[3] = f[2];
    return terminal_path(workdir, f[2]);
}

void set(CommandReply& r, char status, std::string text, bool busy = false) {
    r.status = status;
    r.text = std::move(text);
    r.busy = busy;
}

}  // namespace

Command lookup_command(const std::string& word) {
    Command found = Command::kNone;
    for (const CommandWord& row : kCommands) {
        if (fits(word, row.word, row.bytes)) found = row.command;
    }
    return found;
}

const SubCommand* ftp_subcommand(const std::string& word) {
    return last_fitting(kFtpTable, word);
}

const SubCommand* relay_subcommand(const std::string& word) {
    return last_fitting(kRelayTable, word);
}

bool build_ftp_request(const std::string& workdir, Fields& f, FtpRequest& out) {
    const SubCommand* row = ftp_subcommand(f[1]);
    if (row == nullptr) return false;
    out = FtpRequest{};
    out.open = std::strcmp(row->code, "1") == 0;
    out.passive = settings().passive ? 1 : 0;
    if (out.open && !f[5].empty()) out.passive = std::atoi(f[5].c_str());
    if (out.open && !f[6].empty()) out.control_port = std::atoi(f[6].c_str());
    std::string name = request_name(workdir, f, row->mode);
    out.text = row->code;
    // Each further field only while the ones before it were given.
    if (!f[2].empty()) {
        out.text += "," + name;
        if (!f[3].empty()) {
            out.text += "," + f[3];
            if (!f[4].empty()) out.text += "," + f[4];
        }
    }
    return true;
}

bool build_relay_request(const std::string& workdir, Fields& f, std::string& out) {
    const SubCommand* row = relay_subcommand(f[1]);
    if (row == nullptr) return false;
    if (std::strcmp(row->code, "1") == 0) {
        const ServerSettings& cfg = settings();
        if (f[2].empty()) f[2] = cfg.iphost;
        if (f[3].empty()) f[3] = cfg.ipuser;  // the login text
        if (f[4].empty()) f[4] = cfg.ipport;  // the relay server's port
    }
    std::string name = request_name(workdir, f, row->mode);
    out = row->code;
    if (!f[2].empty()) out += "," + name + "," + f[3] + "," + f[4];
    return true;
}

namespace {

// Per-connection state of the loop.
struct Connection {
    Port* port = nullptr;
    Session session;
    int transfer = 0;  // 0 none, 1 terminal sends (SEND), 2 terminal receives (RECV)
    int result = 0;    // 0 while the loop goes on
    // Opened when SEND or RECV is answered and used by the transfer after
    // the ACK: the folder the terminal's file goes into and its name there,
    // or the file the terminal receives.
    platform::HeldFolder send_dir;
    std::string send_leaf;
    platform::FileHandle recv_file = platform::kNoFile;

    // What the last SEND or RECV opened and no transfer used.
    void release() {
        platform::folder_release(send_dir);
        platform::file_close(recv_file);
    }
    ~Connection() { release(); }
};

Fields current_fields() {
    Fields f;
    for (int i = 0; i < kFieldCount; ++i) f[static_cast<size_t>(i)] = field(i);
    return f;
}

// Writes back fields that a command filled with defaults.
void store_fields(const Fields& f) {
    for (int i = 0; i < kFieldCount; ++i) set_field(i, f[static_cast<size_t>(i)]);
}

// Opens the local file a FTP or IPCOMM sub-command names (field 2 of the
// local and transfer name modes) where its name is checked: the file an
// upload reads, or the folder a download or a listing goes into, which the
// transfer then uses instead of the name (with confine on, beneath the
// working folder; see open_name). A name that leaves the tree, a
// hard-linked file, or a line break in the name of a file to be created is
// refused with "<net> LOCAL NAME REFUSED". Without confine, a name that
// cannot be opened here is left to the transfer, which opens it by name and
// fails as it always did; with confine nothing is opened by name, and the
// open's error goes along for the transfer to fail with. given tells
// whether local goes to the transfer.
bool open_local_name(const Session& s, const SubCommand* row, const std::string& name,
                     const char* net, LocalFile& local, bool& given, CommandReply& reply) {
    given = false;
    if (row == nullptr || row->mode == NameMode::kPlain || name.empty()) return true;
    const bool creates = std::strcmp(row->code, "3") == 0 || std::strcmp(row->code, "5") == 0;
    const std::string path = terminal_path(s.workdir, name);
    int rc = kNameRefused;
    if (creates) {
        if (creatable_name(name)) rc = hold_folder_of_name(s, path, local.folder, local.leaf);
    } else {
        rc = open_name(s, path, platform::FileAccess::read, local.source);
    }
    if (rc == kNameRefused) {
        set(reply, '1', strformat("%s LOCAL NAME REFUSED", net));
        return false;
    }
    if (rc != 0 && !s.confine) return true;
    local.error = rc;
    given = true;
    return true;
}

void run_ftp(Connection& c, CommandReply& reply) {
    Fields f = current_fields();
    LocalFile local;
    bool given = false;
    if (!open_local_name(c.session, ftp_subcommand(f[1]), f[2], "FTP", local, given, reply)) return;
    FtpRequest req;
    if (!build_ftp_request(c.session.workdir, f, req)) {
        set(reply, '1', "INVALID COMMAND");
        return;
    }
    store_fields(f);
    if (req.control_port != 0) ftp_set_control_port(req.control_port);
    std::string text;
    int rc = ftp_bridge(req.passive, req.text, text, given ? &local : nullptr);
    local.release();
    const std::string& start_dir = settings().ftpdir;
    if (rc == 0 && req.open && !start_dir.empty()) {
        rc = ftp_bridge(req.passive, "6," + start_dir, text);
        // A server that cannot reach the start folder is not left half open.
        if (rc != 0) ftp_bridge(req.passive, "2", text);
    }
    line_status_network(NetworkKind::kFtp, rc == 0);
    set(reply, rc == 0 ? '0' : '1', text);
}

void run_relay(Connection& c, CommandReply& reply) {
    Fields f = current_fields();
    LocalFile local;
    bool given = false;
    if (!open_local_name(c.session, relay_subcommand(f[1]), f[2], "IP", local, given, reply))
        return;
    std::string request;
    if (!build_relay_request(c.session.workdir, f, request)) {
        set(reply, '1', "INVALID COMMAND");
        return;
    }
    store_fields(f);
    std::string text;
    int rc = relay_bridge(request, text, given ? &local : nullptr);
    local.release();
    line_status_network(NetworkKind::kRelay, rc == 0);
    set(reply, rc == 0 ? '0' : '1', text);
}

void run_line_command(Connection& c, Command cmd, CommandReply& reply) {
    switch (cmd) {
        case Command::kLinebid:
            c.session.subdir.clear();
            set(reply, '0', call_number() != 0 ? strformat("CALL:%ld", long{call_number()}) : "");
            break;
        case Command::kLinestop:
            set(reply, '0', "");
            c.result = kServeStopped;
            break;
        case Command::kGetcallno:
            next_call_number();
            set(reply, '0', strformat("CALL:%ld", long{call_number()}));
            set_call_number(0);
            break;
        case Command::kDatetime: {
            platform::LocalTime t = platform::local_now();
            set(reply, '0',
                strformat("%4.4d%2.2d%2.2d%2.2d%2.2d%2.2d", t.year, t.month, t.day, t.hour,
                          t.minute, t.second));
            break;
        }
        case Command::kSend: {
            // The terminal's file is created under this name, in the folder
            // held from now on. Without confine a folder that cannot be
            // held is left to the transfer to fail, as the reply is '0'.
            int held = creatable_name(field(1))
                           ? hold_folder_of_name(c.session, full_name(c.session, field(1)),
                                                 c.send_dir, c.send_leaf)
                           : kNameRefused;
            if (held == kNameRefused || (held != 0 && c.session.confine)) {
                set(reply, '1', "SEND FAILED");
                break;
            }
            set(reply, '0', "");
            c.transfer = 1;
            break;
        }
        case Command::kRecv: {
            std::string path = full_name(c.session, field(1));
            int64_t size = 0;
            if (open_name(c.session, path, platform::FileAccess::read, c.recv_file) == 0 &&
                platform::file_length(c.recv_file, size) != 0) {
                size = 0;
            }
            if (size == 0) {
                platform::file_close(c.recv_file);
                set(reply, '1', strformat(" %s FILE NOT FOUND", path.c_str()));
            } else {
                set(reply, '0', strformat("%lld", static_cast<long long>(size)));
                c.transfer = 2;
            }
            break;
        }
        default:
            break;
    }
}

void run_command(Connection& c, Command cmd, CommandReply& reply) {
    Session& s = c.session;
    const std::string word = field(0), f1 = field(1), f2 = field(2);
    switch (cmd) {
        case Command::kCwd:
            cmd_cwd(s, f1, reply);
            break;
        case Command::kDir:
            cmd_dir(s, f1, reply);
            break;
        case Command::kCopy:
            cmd_copy(s, f1, f2, false, false, reply);
            break;
        case Command::kCopyGiven:
            cmd_copy(s, f1, f2, false, true, reply);
            break;
        case Command::kAppend:
            cmd_copy(s, f1, f2, true, false, reply);
            break;
        case Command::kAppendGiven:
            cmd_copy(s, f1, f2, true, true, reply);
            break;
        case Command::kDelete:
            cmd_delete(s, f1, false, reply);
            break;
        case Command::kDeleteGiven:
            cmd_delete(s, f1, true, reply);
            break;
        case Command::kLoad:
            cmd_load(s, word, f1, f2, false, reply);
            break;
        case Command::kLoadGiven:
            cmd_load(s, word, f1, f2, true, reply);
            break;
        case Command::kExec:
            cmd_exec(s, f1, f2, false, reply);
            break;
        case Command::kExecGiven:
            cmd_exec(s, f1, f2, true, reply);
            break;
        case Command::kSystem:
            cmd_system(s, word, f1, f2, reply);
            break;
        case Command::kStat:
            cmd_stat(reply);
            break;
        case Command::kFtp:
            run_ftp(c, reply);
            break;
        case Command::kIpcomm:
            run_relay(c, reply);
            break;
        default:
            run_line_command(c, cmd, reply);
            break;
    }
}

// After the reply to SEND or RECV: the transfer runs only when the
// terminal's next byte is ACK; anything else, silence, or a stop request
// (which ends the wait at once) skips it.
void run_transfer(Connection& c) {
    char answer[kFrameMax + 1];
    int n = port_read(c.port, answer, kFrameMax, kAckWaitMs, kNoBlockHint,
                      &server_state().stop_request.event());
    if (n <= 0 || static_cast<uint8_t>(answer[0]) != line::kAck) return;
    // A receiver may send its first prompt right behind the ACK, in the
    // same read: it belongs to the transfer, which must see it.
    port_unread(c.port, answer + 1, n - 1);
    std::string path = full_name(c.session, field(1));
    int rc = 0;
    if (c.transfer == 1) {
        serial_pause(kBeforeReceiveMs);
        long long announced = std::strtoll(field(2), nullptr, 10);
        XmHeld held{&c.send_dir, c.send_leaf};
        bool in_folder = c.send_dir.handle != platform::kNoFile;
        rc = xm_recv(c.port, path, 1, announced > 0 ? announced : 0, in_folder ? &held : nullptr);
    } else {
        rc = xm_send_handle(c.port, c.recv_file, path, 1, 0);
    }
    line_status_transfer_result(rc == xm_result::kOk);
    if (log_state().verbosity.load() == 2) log_event("READY..", 0, 0);
}

// One good command frame: dispatch, answer, and transfer a file after SEND
// or RECV. A word that names no command is answered with a single CAN.
void answer_command(Connection& c) {
    CommandReply reply;
    Command cmd = lookup_command(field(0));
    if (cmd == Command::kNone) {
        line_status_command_failed();
        send_reply(c.port, line::kCan, 0, "");
        return;
    }
    run_command(c, cmd, reply);
    if (reply.status == '1') line_status_command_failed();
    send_reply(c.port, reply.busy ? line::kAck : line::kStx, reply.status, reply.text);
    if (c.transfer != 0) run_transfer(c);
    c.release();
}

// A USB virtual port whose device was unplugged never comes back on this
// handle: end the connection so that the device is waited for again. Other
// lines keep waiting (their reads wait out their time-outs).
bool usb_device_gone(Port* port) {
    if (settings().connect_kind != kConnectUsb || !port_lost(port)) return false;
    log_event("USB DEVICE LOST", kErrorFlag, 0);
    return true;
}

std::string session_workdir() {
    std::string dir = effective_workdir();
    return dir.empty() ? dir : with_trailing_separator(dir);
}

}  // namespace

int serve_terminal(Port* port) {
    Connection c;
    c.port = port;
    c.session.workdir = session_workdir();
    c.session.confine = settings().confine;
    c.session.programs = settings().programs;
    // The operator sees at once what this line may not do.
    if (c.session.confine)
        log_event(strformat("NAMES CONFINED TO %s", c.session.workdir.c_str()), 0, 0);
    if (!c.session.programs) log_event("PROGRAMS OFF", 0, 0);
    log_event("READY..", 0, 0);
    operator_view().set_text(item::kStatusLine, "READY");
    line_status_session(call_number());
    line_status_state(LineState::kReady);
    int idle = 0;
    const platform::Event& stop = server_state().stop_request.event();
    for (;;) {
        Frame frame;
        FrameKind kind = read_frame(port, frame, kFrameReadMs, &stop);
        if (kind == FrameKind::kIdle) {
            if (server_state().stop_request.load()) return kServeStopped;
            if (usb_device_gone(port)) return kServeCallEnded;
            if (settings().modem && ++idle > kIdleReadsAllowed) {
                log_event("ERROR CALL LOST", kErrorFlag, 0);
                return kServeCallEnded;
            }
            continue;
        }
        idle = 0;
        c.transfer = 0;
        if (kind == FrameKind::kCommand) {
            answer_command(c);
        } else {
            send_line_answer(port, kind);
            if (kind == FrameKind::kCancel || kind == FrameKind::kModemEscape) continue;
            if (kind == FrameKind::kNoCarrier) c.result = kServeCallEnded;
        }
        if (c.result != 0) return c.result;
        operator_view().set_text(item::kStatusLine, "READY");
        line_status_state(LineState::kReady);
    }
}

}  // namespace ql
