#include "fake_ftp_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>

namespace ftp_test {

namespace {

constexpr int kWaitMs = 10000;  // bound of every wait of the fake

int listen_loopback(int& port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    ::listen(fd, 5);
    socklen_t len = sizeof sa;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
    port = ntohs(sa.sin_port);
    return fd;
}

bool readable(int fd, int ms) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, ms) > 0;
}

int accept_within(int listener, int ms) {
    if (!readable(listener, ms)) return -1;
    return ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
}

void send_all(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0) return;
        done += static_cast<size_t>(n);
    }
}

}  // namespace

FakeFtpServer::FakeFtpServer(Script script) : script_(std::move(script)) {
    listener_ = listen_loopback(port_);
    thread_ = std::thread([this] {
        int control = accept_within(listener_, kWaitMs);
        if (control < 0) return;
        FakeSession session(*this, control);
        script_(session);
    });
}

FakeFtpServer::~FakeFtpServer() {
    join();
    ::close(listener_);
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

FakeSession::FakeSession(FakeFtpServer& server, int control) : server_(server), control_(control) {}

FakeSession::~FakeSession() {
    close();
    data_close();
    if (passive_listener_ >= 0) ::close(passive_listener_);
}

void FakeSession::send(const std::string& raw) {
    send_all(control_, raw);
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
        if (control_ < 0 || !readable(control_, kWaitMs)) return "";
        char buffer[4096];
        ssize_t n = ::recv(control_, buffer, sizeof buffer, 0);
        if (n <= 0) return "";
        pending_.append(buffer, static_cast<size_t>(n));
    }
}

bool FakeSession::peer_closed() {
    if (!pending_.empty() || !readable(control_, kWaitMs)) return false;
    char byte;
    return ::recv(control_, &byte, 1, MSG_PEEK) == 0;
}

void FakeSession::close() {
    if (control_ >= 0) ::close(control_);
    control_ = -1;
}

int FakeSession::open_passive() {
    if (passive_listener_ < 0) passive_listener_ = listen_loopback(passive_port_);
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
    int small = 4096;
    ::setsockopt(passive_listener_, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
}

bool FakeSession::accept_data() {
    data_ = accept_within(passive_listener_, kWaitMs);
    return data_ >= 0;
}

bool FakeSession::connect_active(const std::string& port_argument) {
    unsigned h1, h2, h3, h4, p1, p2;
    if (std::sscanf(port_argument.c_str(), "%u,%u,%u,%u,%u,%u", &h1, &h2, &h3, &h4, &p1, &p2) != 6)
        return false;
    data_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl((h1 << 24) | (h2 << 16) | (h3 << 8) | h4);
    sa.sin_port = htons(static_cast<uint16_t>(p1 * 256 + p2));
    return ::connect(data_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
}

void FakeSession::data_send(const std::string& bytes) {
    send_all(data_, bytes);
}

std::string FakeSession::data_read_all() {
    std::string all;
    char buffer[4096];
    while (data_ >= 0 && readable(data_, kWaitMs)) {
        ssize_t n = ::recv(data_, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        all.append(buffer, static_cast<size_t>(n));
    }
    return all;
}

void FakeSession::data_close() {
    if (data_ >= 0) ::close(data_);
    data_ = -1;
}

}  // namespace ftp_test
