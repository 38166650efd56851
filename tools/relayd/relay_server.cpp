// The scriptable loopback relay server.
#include "relayd/relay_server.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include "platform/files.h"
#include "platform/sockets.h"

namespace relayd {

namespace fs = std::filesystem;

struct RelayServer::Conn {
    platform::SocketHandle fd = platform::kNoSocket;
    bool data = false;
    // The remote file opened by "220", served by "221" and "521".
    // It is read as it goes out, so that a large file streams instead of
    // being loaded whole first.
    std::string read_name;
    std::FILE* read_file = nullptr;
    size_t read_size = 0;
    size_t read_offset = 0;
    bool read_open = false;
    // The remote file being written by "230" ... "232".
    std::string write_name;
    std::string write_content;
    bool write_open = false;
    // The server's reply count when this connection's client counter was
    // last known (at its previous frame).
    int64_t replies_seen = 0;
};

namespace {

// Waits in slices, so that a stopping server is seen even by a thread whose
// peer has gone quiet.
constexpr int kWaitSliceMs = 100;

bool read_exact(platform::SocketHandle fd, char* buf, size_t n, const std::atomic<bool>& stopping) {
    size_t got = 0;
    while (got < n) {
        if (stopping) return false;
        int ready = platform::socket_wait(fd, platform::SocketEvent::kReadable, kWaitSliceMs);
        if (ready < 0) return false;
        if (ready == 0) continue;
        long r = platform::socket_receive(fd, buf + got, n - got);
        if (r < 0 && platform::socket_would_block()) continue;
        if (r <= 0) return false;
        got += static_cast<size_t>(r);
    }
    return true;
}

bool write_all(platform::SocketHandle fd, const char* buf, size_t n,
               const std::atomic<bool>& stopping) {
    size_t sent = 0;
    while (sent < n) {
        if (stopping) return false;
        int ready = platform::socket_wait(fd, platform::SocketEvent::kWritable, kWaitSliceMs);
        if (ready < 0) return false;
        if (ready == 0) continue;
        long r = platform::socket_send(fd, buf + sent, n - sent);
        if (r < 0 && platform::socket_would_block()) continue;
        if (r <= 0) return false;
        sent += static_cast<size_t>(r);
    }
    return true;
}

// A listener on 127.0.0.1; returns it, or kNoSocket with error set.
platform::SocketHandle listen_loopback(uint16_t port, uint16_t* bound, int& error) {
    static const uint8_t kLoopback[4] = {127, 0, 0, 1};
    platform::SocketHandle fd = platform::socket_create_tcp();
    if (fd == platform::kNoSocket) {
        error = platform::last_error();
        return fd;
    }
    int local_port = 0;
    uint8_t address[4];
    if (platform::socket_bind(fd, kLoopback, port) != 0 || platform::socket_listen(fd, 16) != 0 ||
        platform::socket_local_address(fd, address, local_port) != 0) {
        error = platform::last_error();
        platform::socket_close(fd);
        return platform::kNoSocket;
    }
    *bound = static_cast<uint16_t>(local_port);
    return fd;
}

int code_of(const std::string& payload) {
    int code = 0;
    for (size_t i = 0; i < 3 && i < payload.size(); ++i) {
        if (payload[i] < '0' || payload[i] > '9') break;
        code = code * 10 + (payload[i] - '0');
    }
    return code;
}

std::string code_text(int code) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%03d", code);
    return buf;
}

bool read_whole(const std::string& path, std::string& out) {
    if (path.empty() || !fs::is_regular_file(path)) return false;  // outside the root, or no file
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) return false;
    // One read of the known size: a stream copy would take twice the time
    // for the large files of the benchmark.
    const std::streamsize size = in.tellg();
    if (size < 0) return false;
    out.resize(static_cast<size_t>(size));
    in.seekg(0);
    return static_cast<bool>(in.read(out.data(), size));
}

bool write_whole(const std::string& path, const std::string& content, bool append) {
    if (path.empty()) return false;  // a name outside the root
    std::error_code ec;
    fs::create_directories(fs::path(path).parent_path(), ec);
    std::ofstream out(path, std::ios::binary | (append ? std::ios::app : std::ios::trunc));
    if (!out) return false;
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    return static_cast<bool>(out);
}

// The first two comma-separated pieces of a text.
void two_names(const std::string& arg, std::string& a, std::string& b) {
    size_t comma = arg.find(',');
    a = arg.substr(0, comma);
    b = comma == std::string::npos ? std::string() : arg.substr(comma + 1);
}

}  // namespace

RelayServer::RelayServer(std::string root) : root_(std::move(root)) {}

RelayServer::~RelayServer() {
    stop();
}

int RelayServer::start(uint16_t port) {
    int major = 0, minor = 0;
    if (platform::socket_library_start(major, minor) != 0) return platform::last_error();
    int error = 0;
    listener_ = listen_loopback(port, &port_, error);
    if (listener_ == platform::kNoSocket) {
        platform::socket_library_stop();
        return error;
    }
    data_listener_ = listen_loopback(0, &data_port_, error);
    if (data_listener_ == platform::kNoSocket) {
        platform::socket_close(listener_);
        listener_ = platform::kNoSocket;
        platform::socket_library_stop();
        return error;
    }
    stopping_ = false;
    running_ = true;
    threads_.emplace_back([this] { accept_loop(listener_, false); });
    threads_.emplace_back([this] { accept_loop(data_listener_, true); });
    return 0;
}

void RelayServer::stop() {
    if (!running_) return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        running_ = false;
        stopping_ = true;
        released_.notify_all();
        // Wakes the threads waiting on a connection; the listeners are
        // polled in slices and see running_ go.
        for (auto& c : conns_) {
            if (c->fd != platform::kNoSocket) platform::socket_shutdown(c->fd);
        }
    }
    // Connection threads are added by the accept threads; join until none
    // is left.
    for (;;) {
        std::thread t;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (threads_.empty()) break;
            t = std::move(threads_.back());
            threads_.pop_back();
        }
        if (t.joinable()) t.join();
    }
    platform::socket_close(listener_);
    platform::socket_close(data_listener_);
    listener_ = data_listener_ = platform::kNoSocket;
    for (auto& c : conns_) {
        if (c->fd != platform::kNoSocket) platform::socket_close(c->fd);
        c->fd = platform::kNoSocket;
    }
    conns_.clear();
    platform::socket_library_stop();
}

void RelayServer::accept_loop(platform::SocketHandle listener, bool data) {
    for (;;) {
        // Waits in slices so that a stop is seen promptly.
        int r = platform::socket_wait(listener, platform::SocketEvent::kReadable, kWaitSliceMs);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!running_) return;
        }
        if (r < 0) return;
        if (r == 0) continue;
        platform::SocketHandle fd = platform::socket_accept(listener);
        if (fd == platform::kNoSocket) {
            int error = platform::last_error();
            if (error == EINTR || error == EAGAIN || error == EWOULDBLOCK) continue;
            return;
        }
        platform::socket_set_no_delay(fd);
        auto conn = std::make_shared<Conn>();
        conn->fd = fd;
        conn->data = data;
        std::lock_guard<std::mutex> lock(mutex_);
        if (!running_) {
            platform::socket_close(fd);
            return;
        }
        conn->replies_seen = replies_;
        (data ? data_conns_ : command_conns_)++;
        if (data) open_data_++;
        conns_.push_back(conn);
        threads_.emplace_back([this, conn] { serve(conn); });
    }
}

void RelayServer::serve(std::shared_ptr<Conn> conn) {
    Conn& c = *conn;
    std::vector<char> body(kMaxBody);
    for (;;) {
        char head[5] = {};
        if (!read_exact(c.fd, head, 4, stopping_)) break;
        char* end = nullptr;
        long n = std::strtol(head, &end, 10);
        if (end != head + 4 || n < 1 || static_cast<size_t>(n) > kMaxBody) break;
        if (!read_exact(c.fd, body.data(), static_cast<size_t>(n), stopping_)) break;
        uint8_t seq = static_cast<uint8_t>(body[0]);
        std::string payload(body.data() + 1, static_cast<size_t>(n - 1));
        record(c, seq, payload);
        if (!handle(c, code_of(payload), payload)) break;
    }
    close_read_file(c);
    std::lock_guard<std::mutex> lock(mutex_);
    platform::socket_shutdown(c.fd);
    if (c.data) open_data_--;
}

void RelayServer::record(Conn& c, uint8_t sequence, const std::string& payload) {
    std::lock_guard<std::mutex> lock(mutex_);
    Request r;
    r.data = c.data;
    r.sequence = sequence;
    r.payload = payload.substr(0, kRecordedPayload);
    r.length = payload.size();
    requests_.push_back(r);
    if (code_of(payload) == 101) {
        notifications_.push_back(payload);
        check_notification_sequence(c, sequence);
    } else {
        check_sequence(sequence);
        c.replies_seen = replies_;
    }
    arrived_.notify_all();
}

// Keeps the server's counter in step: the first frame sets it, later frames
// must carry it. A mismatch is counted and the counter follows the client,
// so that one fault is reported once.
uint8_t RelayServer::check_sequence(uint8_t got) {
    if (expected_ < 0) expected_ = got;
    if (got != expected_) {
        sequence_errors_++;
        expected_ = got;
    }
    return static_cast<uint8_t>(expected_);
}

// A notification carries the client's counter when it was sent, but it may
// be read after replies on the data connection have moved the counter on
// (the two connections are served by separate threads). The client's
// counter then lay between its value at this connection's previous frame
// and now; a notification from outside that range is a sequence error. It
// never moves the counter.
void RelayServer::check_notification_sequence(Conn& c, uint8_t got) {
    if (expected_ < 0) expected_ = got;
    const int64_t behind = (expected_ - got) & 0xff;
    const int64_t since = replies_ - c.replies_seen;
    if (behind > since) {
        sequence_errors_++;
        return;
    }
    c.replies_seen = replies_ - behind;
}

bool RelayServer::send_frame(Conn& c, uint8_t sequence, const std::string& payload) {
    std::string frame = std::to_string(10000 + payload.size() + 1).substr(1);
    frame += static_cast<char>(sequence);
    frame += payload;
    return write_all(c.fd, frame.data(), frame.size(), stopping_);
}

// Sends the reply to a request with the counter's sequence byte and moves
// the counter on, unless a fault says otherwise.
bool RelayServer::reply(Conn& c, int code_of_request, const std::string& payload) {
    int bad = 0;
    uint8_t seq = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = bad_sequence_.find(code_of_request);
        if (it != bad_sequence_.end()) bad = it->second;
        seq = static_cast<uint8_t>(expected_ < 0 ? 0 : expected_);
        if (bad < 2) {
            expected_ = (seq + 1) & 0xff;
            replies_++;
        }
    }
    for (int i = 0; i < bad; ++i) {
        if (!send_frame(c, static_cast<uint8_t>(seq + 100 + i), payload)) return false;
    }
    if (bad >= 2) return true;
    return send_frame(c, seq, payload);
}

// The full path of a path relative to the root (an absolute path counts
// from the root too), or "" when it leads outside the root: through "..",
// or through a symbolic link to somewhere else (links are followed as far
// as the path exists).
std::string RelayServer::confined(const std::string& relative) const {
    const fs::path rel(relative.substr(std::min(relative.find_first_not_of('/'), relative.size())));
    std::error_code ec;
    const fs::path root = fs::weakly_canonical(fs::absolute(root_, ec), ec);
    if (ec) return "";
    const fs::path full = fs::weakly_canonical(root / rel, ec);
    if (ec) return "";
    auto f = full.begin();
    for (auto r = root.begin(); r != root.end(); ++r, ++f) {
        if (f == full.end() || *r != *f) return "";
    }
    return full.string();
}

std::string RelayServer::resolve(const std::string& name) const {
    // A drive or server prefix (Windows) is dropped like the leading
    // separator of an absolute name: the rest counts from the root.
    std::string n = name.substr(fs::path(name).root_name().string().size());
    for (char& ch : n) {
        if (ch == '\\') ch = '/';
    }
    std::string dir;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        dir = cwd_;
    }
    std::string full = confined(dir + n);
    // A file name must name something below the root, not the root itself.
    if (full.empty() || full == confined("")) return "";
    return full;
}

std::string RelayServer::path(const std::string& name) const {
    return root_ + "/" + name;
}

bool RelayServer::handle(Conn& c, int code, const std::string& payload) {
    if (code == 101) return true;  // notification: recorded, never answered
    int refusal = -1;
    {
        std::unique_lock<std::mutex> lock(mutex_);
        if (close_on_.count(code)) return false;
        if (silent_on_.count(code)) return true;
        released_.wait(lock, [&] { return hold_on_.count(code) == 0 || stopping_; });
        auto it = refuse_.find(code);
        if (it != refuse_.end()) refusal = it->second;
    }
    if (refusal >= 0) return reply(c, code, code_text(refusal) + "REFUSED");
    const std::string arg = payload.size() > 3 ? payload.substr(3) : std::string();
    if (c.data) return handle_data(c, code, arg);
    return handle_command(c, code, arg);
}

std::string RelayServer::listing() {
    std::string text;
    std::error_code ec;
    const std::string dir = confined(cwd_);
    if (dir.empty()) return text;
    for (const auto& entry : fs::directory_iterator(dir, ec)) {
        if (!entry.is_regular_file()) continue;
        text += entry.path().filename().string() + " " + std::to_string(entry.file_size()) + "\r\n";
    }
    return text;
}

bool RelayServer::handle_command(Conn& c, int code, const std::string& arg) {
    std::string a, b;
    switch (code) {
        case 100: {
            std::string login;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                login = login_;
            }
            return reply(c, code, login.empty() || login == arg ? "000" : "530LOGIN REFUSED");
        }
        case 150: {
            std::string r;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                r = port_reply_.empty() ? "000127.0.0.1," + std::to_string(data_port_)
                                        : port_reply_;
            }
            return reply(c, code, r);
        }
        case 200: {
            std::string name;
            std::string text;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                name = "RLIST" + std::to_string(++listing_no_) + ".TXT";
                text = listing();
            }
            write_whole(resolve(name), text, false);
            return reply(c, code, "000" + name + ",LISTING");
        }
        case 210: {
            std::error_code ec;
            const std::string target = resolve(arg);
            bool ok = !target.empty() && fs::remove(target, ec);
            return reply(c, code, ok ? "000" : "550NOT FOUND");
        }
        case 240:
        case 250: {
            two_names(arg, a, b);
            std::string content;
            bool ok =
                read_whole(resolve(a), content) && write_whole(resolve(b), content, code == 240);
            return reply(c, code, ok ? "000" : "550COPY FAILED");
        }
        case 251: {
            std::string r;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                r = call_result_.empty() ? "CALLED " + arg : call_result_;
            }
            return reply(c, code, "000" + r + ",MORE");
        }
        case 260: {
            std::string dir = arg;
            if (!dir.empty() && dir.back() != '/') dir += '/';
            const std::string full = arg.empty() ? std::string() : confined(dir);
            bool ok = !full.empty() && fs::is_directory(full);
            if (ok) {
                std::lock_guard<std::mutex> lock(mutex_);
                cwd_ = dir;
            }
            return reply(c, code, ok ? "000" : "550NO SUCH DIRECTORY");
        }
        default:
            return reply(c, code, "500UNKNOWN REQUEST");
    }
}

bool RelayServer::handle_data(Conn& c, int code, const std::string& arg) {
    switch (code) {
        case 99: {
            bool stream;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                stream = stream_;
            }
            return reply(c, code, stream ? "000V" : "000P");
        }
        case 220: {
            close_read_file(c);
            const std::string path = resolve(arg);
            std::error_code ec;
            if (!path.empty() && fs::is_regular_file(path, ec)) {
                c.read_file = std::fopen(path.c_str(), "rb");
                c.read_size = c.read_file != nullptr ? fs::file_size(path, ec) : 0;
            }
            c.read_open = c.read_file != nullptr && !ec;
            c.read_offset = 0;
            c.read_name = arg;
            if (!c.read_open) return reply(c, code, "550NOT FOUND");
            return reply(c, code, "000" + std::to_string(c.read_size));
        }
        case 221: {
            if (!c.read_open) return reply(c, code, "551NOT OPEN");
            size_t block;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                block = static_cast<size_t>(block_size_);
            }
            if (c.read_offset >= c.read_size) return reply(c, code, "999");
            std::string chunk(std::min(block, c.read_size - c.read_offset), '\0');
            chunk.resize(std::fread(chunk.data(), 1, chunk.size(), c.read_file));
            if (chunk.empty()) return reply(c, code, "999");
            c.read_offset += chunk.size();
            return reply(c, code, "000" + chunk);
        }
        case 222:
            close_read_file(c);
            return reply(c, code, "000");
        case 230:
            c.write_open = true;
            c.write_name = arg;
            c.write_content.clear();
            return reply(c, code, "000");
        case 231:
            if (!c.write_open) return reply(c, code, "551NOT OPEN");
            c.write_content += arg;
            return reply(c, code, "000");
        case 232: {
            if (!c.write_open) return reply(c, code, "551NOT OPEN");
            c.write_open = false;
            bool ok = write_whole(resolve(c.write_name), c.write_content, false);
            if (ok) {
                std::lock_guard<std::mutex> lock(mutex_);
                uploads_++;
            }
            return reply(c, code, ok ? "000" : "552WRITE FAILED");
        }
        case 300:
        case 301: {
            int rc;
            std::string text;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                if (code == 300) load_left_ = load_polls_;
                if (load_left_ != 0) {
                    if (load_left_ > 0) load_left_--;
                    rc = 888;
                } else {
                    rc = load_final_;
                    text = load_text_;
                }
            }
            return reply(c, code, code_text(rc) + text);
        }
        case 521:
            return stream_download(c);
        case 530:
            return stream_upload(c, arg);
        default:
            return reply(c, code, "500UNKNOWN REQUEST");
    }
}

// "530" + size (8 digits) + name: accept, read the raw bytes, store the
// file, send the final reply.
bool RelayServer::stream_upload(Conn& c, const std::string& arg) {
    if (arg.size() < 8) return reply(c, 530, "501BAD HEADER");
    size_t size = std::strtoul(arg.substr(0, 8).c_str(), nullptr, 10);
    std::string name = arg.substr(8);
    bool never_read;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        never_read = never_read_;
    }
    if (never_read) {
        // Small before the bytes come, so that the client's sends stall soon.
        platform::socket_set_receive_buffer(c.fd, 4096);
    }
    if (!reply(c, 530, "000")) return false;
    if (never_read) {
        hold_unread(c);
        return false;
    }
    // Written as it arrives, as a plain copy would; a name outside the root
    // still has its bytes read, so the connection stays in step.
    const std::string path = resolve(name);
    std::FILE* out = nullptr;
    if (!path.empty()) {
        std::error_code ec;
        fs::create_directories(fs::path(path).parent_path(), ec);
        out = std::fopen(path.c_str(), "wb");
    }
    bool ok = out != nullptr;
    std::vector<char> piece(64 * 1024);
    for (size_t left = size; left > 0;) {
        const size_t n = std::min(left, piece.size());
        if (!read_exact(c.fd, piece.data(), n, stopping_)) {
            if (out != nullptr) std::fclose(out);
            return false;
        }
        if (out != nullptr && std::fwrite(piece.data(), 1, n, out) != n) ok = false;
        left -= n;
    }
    if (out != nullptr && std::fclose(out) != 0) ok = false;
    if (ok) {
        std::lock_guard<std::mutex> lock(mutex_);
        uploads_++;
    }
    return reply(c, 530, ok ? "000" : "552WRITE FAILED");
}

// "521": the file opened by "220" goes out raw. A stream limit cuts it.
bool RelayServer::stream_download(Conn& c) {
    long limit;
    bool close;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        limit = stream_limit_;
        close = stream_limit_close_;
    }
    if (!c.read_open) return false;
    size_t n = c.read_size - std::min(c.read_offset, c.read_size);
    bool cut = limit >= 0 && static_cast<size_t>(limit) < n;
    if (cut) n = static_cast<size_t>(limit);
    std::vector<char> piece(64 * 1024);
    while (n > 0) {
        const size_t got = std::fread(piece.data(), 1, std::min(n, piece.size()), c.read_file);
        if (got == 0 || !write_all(c.fd, piece.data(), got, stopping_)) return false;
        c.read_offset += got;
        n -= got;
    }
    return !(cut && close);
}

void RelayServer::close_read_file(Conn& c) {
    if (c.read_file != nullptr) std::fclose(c.read_file);
    c.read_file = nullptr;
    c.read_open = false;
}

// Keeps a connection open without reading from it until the client closes
// it (its half-close is seen without reading) or the server stops.
void RelayServer::hold_unread(Conn& c) {
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!running_) return;
        }
        if (platform::socket_wait_hangup(c.fd, kWaitSliceMs) != 0) return;
    }
}

void RelayServer::set_login(const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    login_ = text;
}
void RelayServer::set_stream(bool on) {
    std::lock_guard<std::mutex> lock(mutex_);
    stream_ = on;
}
void RelayServer::set_block_size(int bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    block_size_ = bytes < 1 ? 1 : (bytes > 1020 ? 1020 : bytes);
}
void RelayServer::set_load(int polls, int final_code, const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    load_polls_ = polls;
    load_final_ = final_code;
    load_text_ = text;
}
void RelayServer::set_call_result(const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    call_result_ = text;
}
void RelayServer::set_port_reply(const std::string& payload) {
    std::lock_guard<std::mutex> lock(mutex_);
    port_reply_ = payload;
}
void RelayServer::refuse(int code, int reply_code) {
    std::lock_guard<std::mutex> lock(mutex_);
    refuse_[code] = reply_code;
}
void RelayServer::close_on(int code) {
    std::lock_guard<std::mutex> lock(mutex_);
    close_on_[code] = true;
}
void RelayServer::silent_on(int code) {
    std::lock_guard<std::mutex> lock(mutex_);
    silent_on_[code] = true;
}
void RelayServer::hold_on(int code) {
    std::lock_guard<std::mutex> lock(mutex_);
    hold_on_[code] = true;
}
void RelayServer::release_holds() {
    std::lock_guard<std::mutex> lock(mutex_);
    hold_on_.clear();
    released_.notify_all();
}
void RelayServer::bad_sequence_on(int code, int frames) {
    std::lock_guard<std::mutex> lock(mutex_);
    bad_sequence_[code] = frames;
}
void RelayServer::stream_stop_after(long bytes, bool close) {
    std::lock_guard<std::mutex> lock(mutex_);
    stream_limit_ = bytes;
    stream_limit_close_ = close;
}
void RelayServer::clear_faults() {
    std::lock_guard<std::mutex> lock(mutex_);
    refuse_.clear();
    close_on_.clear();
    silent_on_.clear();
    bad_sequence_.clear();
    stream_limit_ = -1;
    never_read_ = false;
}

void RelayServer::stream_never_read(bool on) {
    std::lock_guard<std::mutex> lock(mutex_);
    never_read_ = on;
}

std::vector<Request> RelayServer::requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}
std::vector<std::string> RelayServer::codes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> out;
    for (const auto& r : requests_) {
        if (code_of(r.payload) != 101) out.push_back(r.payload.substr(0, 3));
    }
    return out;
}
std::vector<std::string> RelayServer::notifications() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return notifications_;
}
int RelayServer::sequence_errors() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return sequence_errors_;
}
int RelayServer::command_connections() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return command_conns_;
}
int RelayServer::data_connections() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return data_conns_;
}
int RelayServer::open_data_connections() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return open_data_;
}
int RelayServer::uploads_completed() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return uploads_;
}
bool RelayServer::wait_for_requests(size_t count, int ms) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return arrived_.wait_for(lock, std::chrono::milliseconds(ms),
                             [&] { return requests_.size() >= count; });
}
bool RelayServer::wait_for_notifications(size_t count, int ms) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return arrived_.wait_for(lock, std::chrono::milliseconds(ms),
                             [&] { return notifications_.size() >= count; });
}
void RelayServer::clear_records() {
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.clear();
    notifications_.clear();
    sequence_errors_ = 0;
}

}  // namespace relayd
