#include "fake_ftp_server.h"

#include <cstdio>

#include "loopback.h"

namespace ftp_test {

using platform::kNoSocket;
using platform::SocketHandle;

namespace {

constexpr int kWaitMs = 10000;  // bound of every wait of the fake

bool readable(SocketHandle s, int ms) {
    return platform::socket_wait(s, platform::SocketEvent::kReadable, ms) == 1;
}

SocketHandle accept_within(SocketHandle listener, int ms) {
    if (listener == kNoSocket || !readable(listener, ms)) return kNoSocket;
    return platform::socket_accept(listener);
}

bool send_all(SocketHandle s, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        long n = platform::socket_send(s, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        // A full send buffer is waited out (boundedly); anything else ends it.
        if (n == 0 || !platform::socket_would_block()) return false;
        if (platform::socket_wait(s, platform::SocketEvent::kWritable, kWaitMs) != 1) return false;
    }
    return true;
}

// One receive once something is waiting: the count, 0 at the peer's close,
// -1 on error or when nothing came within the bound.
long receive_within(SocketHandle s, char* buffer, size_t capacity) {
    if (s == kNoSocket || !readable(s, kWaitMs)) return -1;
    return platform::socket_receive(s, buffer, capacity);
}

void close_socket(SocketHandle& s) {
    if (s != kNoSocket) platform::socket_close(s);
    s = kNoSocket;
}

}  // namespace

FakeFtpServer::FakeFtpServer(Script script) : script_(std::move(script)) {
    listener_ = testing_support::listen_loopback(port_);
    thread_ = std::thread([this] {
        SocketHandle control = accept_within(listener_, kWaitMs);
        if (control == kNoSocket) return;
        FakeSession session(*this, control);
        script_(session);
    });
}

FakeFtpServer::~FakeFtpServer() {
    join();
    close_socket(listener_);
}

void FakeFtpServer::join() {
    if (thread_.joinable()) thread_.join();
}

std::vector<std::string> FakeFtpServer::received() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return received_;
}

void FakeFtpServer::record(const std::string& line) {
    std::lock_guard<std::mutex> lock(mutex_);
    received_.push_back(line);
}

FakeSession::FakeSession(FakeFtpServer& server, SocketHandle control)
    : server_(server), control_(control) {}

FakeSession::~FakeSession() {
    close();
    data_close();
    close_socket(passive_listener_);
}

bool FakeSession::send(const std::string& raw) {
    return send_all(control_, raw);
}

void FakeSession::reply(const std::string& line) {
    send(line + "\r\n");
}

std::string FakeSession::expect() {
    for (;;) {
        auto end = pending_.find("\r\n");
        if (end != std::string::npos) {
            std::string line = pending_.substr(0, end);
            pending_.erase(0, end + 2);
            server_.record(line);
            return line;
        }
        char buffer[4096];
        long n = receive_within(control_, buffer, sizeof buffer);
        if (n <= 0) return "";
        pending_.append(buffer, static_cast<size_t>(n));
    }
}

bool FakeSession::peer_closed() {
    if (!pending_.empty()) return false;
    char buffer[4096];
    long n = receive_within(control_, buffer, sizeof buffer);
    if (n > 0) pending_.append(buffer, static_cast<size_t>(n));  // not a close: kept for expect()
    return n == 0;
}

void FakeSession::close() {
    close_socket(control_);
}

int FakeSession::open_passive() {
    if (passive_listener_ == kNoSocket)
        passive_listener_ = testing_support::listen_loopback(passive_port_);
    return passive_port_;
}

void FakeSession::reply_pasv(const std::string& address_numbers) {
    int port = open_passive();
    char line[128];
    std::snprintf(line, sizeof line, "227 Entering Passive Mode (%s,%d,%d).",
                  address_numbers.c_str(), port / 256, port % 256);
    reply(line);
}

void FakeSession::shrink_passive_receive_buffer() {
    open_passive();
    platform::socket_set_receive_buffer(passive_listener_, 4096);
}

bool FakeSession::accept_data() {
    data_ = accept_within(passive_listener_, kWaitMs);
    return data_ != kNoSocket;
}

bool FakeSession::connect_active(const std::string& port_argument) {
    unsigned h[4], p1, p2;
    if (std::sscanf(port_argument.c_str(), "%u,%u,%u,%u,%u,%u", &h[0], &h[1], &h[2], &h[3], &p1,
                    &p2) != 6)
        return false;
    uint8_t address[4];
    for (int i = 0; i < 4; ++i) address[i] = static_cast<uint8_t>(h[i]);
    data_ = platform::socket_create_tcp();
    if (data_ == kNoSocket) return false;
    return platform::socket_connect(data_, address, static_cast<int>(p1 * 256 + p2), kWaitMs) == 0;
}

void FakeSession::data_send(const std::string& bytes) {
    send_all(data_, bytes);
}

std::string FakeSession::data_read_all() {
    std::string all;
    char buffer[4096];
    for (;;) {
        long n = receive_within(data_, buffer, sizeof buffer);
        if (n <= 0) break;
        all.append(buffer, static_cast<size_t>(n));
    }
    return all;
}

void FakeSession::data_close() {
    close_socket(data_);
}

}  // namespace ftp_test
