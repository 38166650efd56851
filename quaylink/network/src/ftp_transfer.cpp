// FTP file transfers: the data connection (PORT or PASV), the download loop
// of LIST and RETR, the upload loop of STOR, and the four transfer
// operations built on them.
#include <cerrno>
#include <cstring>

#include "foundation/log.h"
#include "ftp_internal.h"
#include "network/ftp.h"
#include "network/local_file.h"
#include "platform/files.h"
#include "terminal/progress.h"

namespace ql {

using namespace ftp_detail;

namespace {

constexpr int kTagPort = 100;
constexpr int kTagPasv = 106;
constexpr int kTagRetrieve = 102;
constexpr int kTagRetrieveDone = 103;
constexpr int kTagStore = 107;
constexpr int kTagStoreDone = 108;
constexpr int kTagEpsv = 114;

// Downloads arrive in a temporary file beside their target and are renamed
// into place only when complete.
platform::TempFile g_download;

// The disk is written and read in pieces as large as the network's.
constexpr size_t kFileBufferSize = 64 * 1024;
char g_file_buffer[kFileBufferSize];  // one transfer file is open at a time

// Ends the progress display on every way out of a transfer that started it.
class ProgressScope {
  public:
    ProgressScope(const std::string& name, int kind) : name_(name), kind_(kind) {}
    ~ProgressScope() { end(); }
    void start(int64_t total) {
        total_ = total;
        started_ = true;
        show_progress(name_, kind_, total_, kProgressStart);
    }
    void update(int64_t done) {
        if (started_ && done > 0) show_progress(name_, kind_, total_, done);
    }
    void end() {
        if (started_) show_progress(name_, kind_, total_, kProgressEnd);
        started_ = false;
    }

  private:
    std::string name_;
    int kind_;
    int64_t total_ = 0;
    bool started_ = false;
};

// Active set-up: listen on the next data port and announce it with PORT.
// The listener is bound to the address the control connection uses, so the
// server can reach it whatever the local host name resolves to.
bool port_step() {
    FtpConnection& c = ftp_connection();
    int port = ftp_next_data_port();
    close_data_socket();  // a listener left by an earlier failed set-up
    watch_clear();
    std::string local;
    if (tcp_local_address(c.control, local) != 0 && local_address(local) != 0) return false;
    if (tcp_listen(c.data, local, std::to_string(port)) != 0) {
        c.data = kNoSocket;  // the layer has closed it already
        return false;
    }
    watch_add(c.data);
    std::string text;
    if (local.find(':') != std::string::npos) {
        // PORT has no room for an IPv6 address; EPRT names it.
        text = strformat("EPRT |2|%s|%d|\r\n", local.c_str(), port);
    } else {
        for (char& ch : local) {
            if (ch == '.') ch = ',';
        }
        text = strformat("PORT %s,%u,%u\r\n", local.c_str(), static_cast<unsigned>(port / 256),
                         static_cast<unsigned>(port % 256));
    }
    if (ftp_send_command(text) != 0) return false;
    int code = -1;
    ftp_reply_wait(kTagPort, code);
    return code == 200;
}

// EPSV: 1 with the port, 0 when the server refuses the command (a 5xx
// reply), -1 on any other failure.
int epsv_step(std::string& port) {
    FtpConnection& c = ftp_connection();
    if (ftp_send_command("EPSV\r\n") != 0) {
        error("passive command error", 0);
        return -1;
    }
    int code = -1;
    ftp_reply_wait(kTagEpsv, code);
    if (code == 229 && ftp_epsv_port(c.reply, port)) return 1;
    info(strformat("Passive CMD error %d", code), 0);
    return code >= 500 && code < 600 ? 0 : -1;
}

bool on_ipv6() {
    return ftp_connection().server_host.find(':') != std::string::npos;
}

// Passive set-up: EPSV when enabled or on IPv6 (PASV after a refusal, on
// IPv4 only, for the rest of the connection), else PASV; and the data port
// the server names.
bool pasv_step(std::string& port) {
    FtpConnection& c = ftp_connection();
    if (!c.connected) return false;
    FtpState& st = state();
    if (on_ipv6() || (st.options.epsv && !st.epsv_refused)) {
        int rc = epsv_step(port);
        if (rc == 1) return true;
        if (rc < 0 || on_ipv6()) return false;
        st.epsv_refused = true;
        info("FTP:EPSV refused, PASV from now on", 0);
    }
    if (ftp_send_command("PASV\r\n") != 0) {
        error("passive command error", 0);
        return false;
    }
    int code = -1;
    ftp_reply_wait(kTagPasv, code);
    if (code != 227) {
        info(strformat("Passive CMD error %d", code), 0);
        return false;
    }
    return ftp_pasv_port(c.reply, port);
}

// Connects the data socket to the server address and the PASV port.
bool connect_passive(const std::string& port) {
    FtpConnection& c = ftp_connection();
    if (tcp_connect(c.data, c.server_host, port) != 0) {
        c.data = kNoSocket;
        return false;
    }
    return true;
}

// Active mode: waits for the server's data connection on the listener and
// puts the accepted socket into the data slot.
bool accept_wait() {
    FtpConnection& c = ftp_connection();
    SocketHandle listener = c.data;
    bool ready = watch_wait(state().reply_timeout_ms) >= 1 && watch_is_ready(listener);
    SocketHandle accepted = kNoSocket;
    if (!ready || tcp_accept(listener, accepted) != 0) {
        info("remote host connect error", 0);
        if (ready) {
            c.data = kNoSocket;  // a failed accept has closed the listener
        } else {
            close_data_socket();
        }
        watch_remove(listener);
        return false;
    }
    tcp_close(listener);
    watch_remove(listener);
    c.data = accepted;
    platform::socket_set_blocking(accepted);
    return true;
}

// Secures the data connection when the control connection is secured,
// resuming its TLS session (servers such as vsftpd insist on that, so that
// nobody else can take over the data connection).
bool secure_data() {
    FtpState& st = state();
    if (st.control_tls == nullptr) return true;
    return secure(ftp_connection().data, st.data_tls, st.control_tls) == 0;
}

// Ends a download early: ABOR (and, when the disk is full, the line that
// says so) on the control connection, the data socket closed, and the
// replies the transfer still owes read, so that they are not taken for the
// answers of the next commands.
void abort_download(bool disk_full) {
    ftp_resync(true, disk_full ? "452 Disk full error.\r\n" : "");
}

// Receives the data connection into the transfer file until the server
// closes it. True when everything arrived and was written.
bool receive_loop(ProgressScope& progress) {
    FtpConnection& c = ftp_connection();
    FtpState& st = state();
    int64_t total = 0;
    for (;;) {
        int n = 0;
        int rc = receive(c.data, c.data_buffer, c.data_capacity, st.reply_timeout_ms, n);
        // A stop request ends the transfer as a broken connection would.
        if (rc == 0 && n > 0 && socket_stop_requested()) rc = socket_result::kReceive;
        if (rc != 0) {
            info(strformat("srv_read error = bytes:%d", n), rc);
            abort_download(false);
            return false;
        }
        if (n == 0) return true;
        size_t written = std::fwrite(c.data_buffer, 1, static_cast<size_t>(n), st.transfer_file);
        if (written < static_cast<size_t>(n)) {
            st.disk_full = true;
            st.last_file_error = errno;
        }
        if (st.disk_full) {
            abort_download(true);
            return false;
        }
        total += n;
        progress.update(total);
    }
}

// LIST (listing mode) or RETR of remote into the transfer file. 1 on
// success, 0 on failure.
int retrieve(const std::string& remote) {
    FtpConnection& c = ftp_connection();
    if (!c.connected) return 0;
    if (c.passive) {
        std::string port;
        if (!pasv_step(port)) return 0;
        if (!connect_passive(port)) {
            info(strformat("Passive connect err: Port %s", port.c_str()), 0);
            return 0;
        }
    } else if (!port_step()) {
        return 0;
    }
    std::string text = c.listing_mode == 1 ? std::string("LIST\r\n") : "RETR " + remote + "\r\n";
    if (ftp_send_command(text) != 0) {
        close_data_socket();
        return 0;
    }
    int code = -1;
    ftp_reply_wait(kTagRetrieve, code);
    if (code != 150 && code != 125) {
        info(strformat("Response error %d", code), 0);
        close_data_socket();
        return 0;
    }
    ProgressScope progress(remote, progress_kind::kFtpRecv);
    int64_t expected = ftp_expected_size(c.reply);
    if (expected != 0) progress.start(expected);
    if (!c.passive && !accept_wait()) {
        ftp_resync(true);  // the server still waits to connect, or has given up
        return 0;
    }
    if (!secure_data()) {
        ftp_resync(true);
        return 0;
    }
    if (!receive_loop(progress)) return 0;
    progress.end();
    close_data_socket();
    ftp_reply_wait(kTagRetrieveDone, code);
    return (code == 226 || code == 250) ? 1 : 0;
}

// Sends the transfer file over the data connection. True when all of it
// went out.
bool send_loop(ProgressScope& progress) {
    FtpConnection& c = ftp_connection();
    FtpState& st = state();
    int64_t total = 0;
    for (;;) {
        size_t n = std::fread(c.data_buffer, 1, c.data_capacity, st.transfer_file);
        if (n == 0) break;
        if (socket_stop_requested() || send_all(c.data, c.data_buffer, n) != 0) return false;
        total += static_cast<int64_t>(n);
        progress.update(total);
    }
    if (std::ferror(st.transfer_file)) {
        st.last_file_error = errno;
        return false;
    }
    return true;
}

// STOR of the transfer file as remote. 1 on success, 0 on failure.
int store(const std::string& remote, int64_t total) {
    FtpConnection& c = ftp_connection();
    if (!c.connected) return 0;
    std::string port;
    if (c.passive ? !pasv_step(port) : !port_step()) return 0;
    if (ftp_send_command("STOR " + remote + "\r\n") != 0) {
        close_data_socket();
        return 0;
    }
    ProgressScope progress(remote, progress_kind::kFtpSend);
    progress.start(total);
    // Passive uploads connect only after STOR; active ones accept before the
    // preliminary reply. STOR is answered whatever happens to the data
    // connection, so every early end reads what the server still owes.
    if (c.passive ? !connect_passive(port) : !accept_wait()) {
        ftp_resync(true);
        return 0;
    }
    int code = -1;
    ftp_reply_wait(kTagStore, code);
    if (code != 150 && code != 125) {
        close_data_socket();
        return 0;
    }
    if (!secure_data()) {
        ftp_resync(true);
        return 0;
    }
    if (!send_loop(progress)) {
        // ABOR goes out before the data connection closes: a close alone
        // tells the server the file is complete.
        ftp_resync(true);
        return 0;
    }
    progress.end();
    close_data_socket();
    ftp_reply_wait(kTagStoreDone, code);
    return (code == 226 || code == 250) ? 1 : 0;
}

// Opens a new temporary file for the target (in the folder held for it,
// or beside it) as the transfer file. It is created exclusively, so no file
// or link already there is ever written.
bool begin_download(const std::string& target, const LocalFile* held) {
    FtpState& st = state();
    close_transfer_file();
    g_download.file = nullptr;  // closed just above, if it was still open
    platform::discard_temp_file(g_download);
    int rc = local_download_begin(target, held, g_download);
    if (rc != 0) {
        st.last_file_error = rc;
        return false;
    }
    st.transfer_file = g_download.file;
    std::setvbuf(st.transfer_file, g_file_buffer, _IOFBF, sizeof g_file_buffer);
    return true;
}

// Closes the temporary file and, when the download succeeded and the file
// is safely on disk, renames it over the target (a link there is replaced,
// not followed); otherwise removes it. True when the target now holds the
// download.
bool finish_download(const std::string& target, const LocalFile* held, bool ok) {
    FtpState& st = state();
    ok = close_transfer_file() && ok;
    g_download.file = nullptr;
    if (ok) {
        int rc = local_download_commit(target, held, g_download);
        if (rc == 0) return true;
        st.last_file_error = rc;
    }
    platform::discard_temp_file(g_download);
    return false;
}

// Opens an upload source as the transfer file and gives its length.
bool open_source(const std::string& local, LocalFile* held, int64_t& size) {
    FtpState& st = state();
    close_transfer_file();
    int rc = local_upload_open(local, held, st.transfer_file, size);
    if (rc != 0) {
        st.last_file_error = rc;
        return false;
    }
    std::setvbuf(st.transfer_file, g_file_buffer, _IOFBF, sizeof g_file_buffer);
    return true;
}

}  // namespace

int ftp_next_data_port() {
    FtpState& st = state();
    if (st.fixed_data_port != 0) return st.fixed_data_port;
    int port = st.data_port_counter;
    st.data_port_counter = port >= kFtpLastDataPort ? kFtpFirstDataPort : port + 1;
    return port;
}

int64_t ftp_expected_size(const char* line) {
    const char* close = std::strchr(line, ')');
    if (close == nullptr) return 0;
    const char* open = nullptr;
    for (const char* p = close - 1; p > line; --p) {
        if (*p == '(') {
            open = p;
            break;
        }
    }
    if (open == nullptr || close - open >= 256) return 0;
    std::string group(open, close);
    if (group.find("bytes") == std::string::npos) return 0;
    int64_t size = 0;
    for (const char* p = open + 1; *p >= '0' && *p <= '9'; ++p) {
        if (size < (int64_t{1} << 50)) size = size * 10 + (*p - '0');
    }
    return size;
}

bool ftp_pasv_port(const char* reply, std::string& port) {
    const char* p = reply;
    for (int commas = 0; commas < 4; ++commas) {
        p = std::strchr(p, ',');
        if (p == nullptr) return false;
        ++p;
    }
    const char* fifth = std::strchr(p, ',');
    if (fifth == nullptr) return false;
    auto number = [](const char* s) {
        long value = 0;
        for (; *s >= '0' && *s <= '9' && value < 100000; ++s) value = value * 10 + (*s - '0');
        return value;
    };
    port = std::to_string(number(p) * 256 + number(fifth + 1));
    return true;
}

bool ftp_epsv_port(const char* reply, std::string& port) {
    const char* open = std::strchr(reply, '(');
    if (open == nullptr || open[1] == '\0') return false;
    const char d = open[1];
    if (open[2] != d || open[3] != d) return false;
    long value = 0;
    const char* p = open + 4;
    for (; *p >= '0' && *p <= '9' && value <= 65535; ++p) value = value * 10 + (*p - '0');
    if (p == open + 4 || *p != d || value < 1 || value > 65535) return false;
    port = std::to_string(value);
    return true;
}

void ftp_set_data_port(int port) {
    state().fixed_data_port = port;
}

void ftp_set_data_port_counter(int port) {
    state().data_port_counter = port;
}

int ftp_dir(const std::string& local, const LocalFile* held) {
    FtpConnection& c = ftp_connection();
    FtpState& st = state();
    c.listing_mode = 1;
    info(strformat("FTP:Dir:%s", local.c_str()), 0);
    std::string name = local.empty() ? "ftpdir" : local;
    if (!begin_download(name, held)) {
        if (ftp_log_flag())
            error(strformat("FTP:Create Error:%s", name.c_str()), st.last_file_error);
        return ftp_result::kCreateFailed;
    }
    st.disk_full = false;
    bool ok = retrieve("") == 1;
    if (finish_download(name, held, ok)) return ftp_result::kOk;
    if (ftp_log_flag()) error("FTP:Get Dir Failed", 0);
    return ftp_result::kGetFailed;
}

int ftp_recv(const std::string& local, const std::string& remote, const LocalFile* held) {
    FtpConnection& c = ftp_connection();
    FtpState& st = state();
    c.listing_mode = 0;
    if (!begin_download(local, held)) {
        if (ftp_log_flag())
            error(strformat("FTP:Create Error:%s", local.c_str()), st.last_file_error);
        return ftp_result::kCreateFailed;
    }
    info(strformat("FTP:Recieve:%s", local.c_str()), 0);
    st.disk_full = false;
    info(strformat("FTP:Recieve:%s", remote.c_str()), st.last_file_error);
    bool ok = retrieve(remote) == 1;
    if (finish_download(local, held, ok)) return ftp_result::kOk;
    if (ftp_log_flag()) error("FTP:Get Failed", 0);
    return ftp_result::kGetFailed;
}

int ftp_send(const std::string& local, const std::string& remote, LocalFile* held) {
    FtpState& st = state();
    int64_t size = 0;
    // A file that cannot be read counts as empty, as the operators know it.
    if (!open_source(local, held, size) || size <= 0) {
        close_transfer_file();
        if (ftp_log_flag())
            error(strformat("FTP:Zero Byte File:%s", local.c_str()), st.last_file_error);
        return ftp_result::kLocalFileBad;
    }
    info(strformat("FTP:Send:%s", local.c_str()), 0);
    bool ok = store(remote, size) == 1;
    close_transfer_file();
    if (ok) return ftp_result::kOk;
    if (ftp_log_flag()) error(strformat("FTP:Failed:%s", remote.c_str()), st.last_file_error);
    return ftp_result::kPutFailed;
}

int ftp_dbin(const std::string& local, LocalFile* held) {
    FtpState& st = state();
    int64_t size = 0;
    if (!open_source(local, held, size)) {
        if (ftp_log_flag())
            error(strformat("FTP:Invalid File:%s", local.c_str()), st.last_file_error);
        return ftp_result::kLocalFileBad;
    }
    info(strformat("FTP:Dbin:%s", local.c_str()), 0);
    bool ok = store("", 1) == 1;
    close_transfer_file();
    if (ok) return ftp_result::kOk;
    if (ftp_log_flag()) error(strformat("FTP:Dbin Failed:%s", local.c_str()), st.last_file_error);
    return ftp_result::kPutFailed;
}

}  // namespace ql
