#include "lrzsz_peer.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <sstream>
#include <vector>

extern char** environ;

namespace transfer_test {

namespace {

// Writes everything to a non-blocking or blocking descriptor; false when the
// other end is gone or stop was raised.
bool write_all(int fd, const char* data, size_t count, const std::atomic<bool>& stop) {
    while (count > 0) {
        ssize_t n = ::write(fd, data, count);
        if (n > 0) {
            data += n;
            count -= static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
        if (stop.load()) return false;
        pollfd p{fd, POLLOUT, 0};
        ::poll(&p, 1, 20);
    }
    return true;
}

// Applies a rule to a chunk that starts at stream offset *offset.
std::string apply(const FaultRule& rule, const char* data, size_t count, size_t* offset) {
    std::string out;
    out.reserve(count);
    for (size_t i = 0; i < count; ++i, ++*offset) {
        Fault f = rule ? rule(*offset) : Fault::kPass;
        if (f == Fault::kDrop) continue;
        if (f == Fault::kAsNak) {
            out += '\x15';
            continue;
        }
        out += f == Fault::kCorrupt ? static_cast<char>(data[i] ^ 0x5A) : data[i];
    }
    return out;
}

}  // namespace

LrzszPeer::LrzszPeer(testing_support::PtyPair& pty, const std::string& folder,
                     const std::string& command)
    : pty_(pty) {
    // A program that has ended must not take the test down with it when the
    // pump writes to its closed pipe.
    ::signal(SIGPIPE, SIG_IGN);
    int in_pipe[2], out_pipe[2];
    if (::pipe2(in_pipe, O_CLOEXEC) != 0) return;
    if (::pipe2(out_pipe, O_CLOEXEC) != 0) {
        ::close(in_pipe[0]);
        ::close(in_pipe[1]);
        return;
    }
    errors_path_ = errors_dir_.file("errors.txt");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in_pipe[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, errors_path_.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::string script = "cd '" + folder + "' && exec " + command;
    const char* argv[] = {"/bin/sh", "-c", script.c_str(), nullptr};
    pid_t pid = -1;
    int rc = ::posix_spawn(&pid, "/bin/sh", &actions, nullptr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(in_pipe[0]);
    ::close(out_pipe[1]);
    to_child_ = in_pipe[1];
    from_child_ = out_pipe[0];
    if (rc != 0) return;
    pid_ = pid;
    ::fcntl(to_child_, F_SETFL, ::fcntl(to_child_, F_GETFL) | O_NONBLOCK);
    pump_thread_ = std::thread([this] { pump(); });
}

LrzszPeer::~LrzszPeer() {
    stop_program();
    stop_ = true;
    if (pump_thread_.joinable()) pump_thread_.join();
    if (to_child_ >= 0) ::close(to_child_);
    if (from_child_ >= 0) ::close(from_child_);
}

void LrzszPeer::set_faults(FaultRule to_peer, FaultRule from_peer) {
    std::lock_guard<std::mutex> lock(rules_mutex_);
    to_peer_ = std::move(to_peer);
    from_peer_ = std::move(from_peer);
}

void LrzszPeer::pump() {
    size_t to_offset = 0, from_offset = 0;
    std::vector<char> buffer(8192);
    bool child_open = true;
    while (!stop_.load()) {
        pollfd fds[2] = {{pty_.master_fd(), POLLIN, 0}, {from_child_, POLLIN, 0}};
        int n = ::poll(fds, child_open ? 2 : 1, 20);
        if (n <= 0) continue;
        if (fds[0].revents & POLLIN) {
            ssize_t got = ::read(pty_.master_fd(), buffer.data(), buffer.size());
            if (got > 0) {
                std::string out;
                {
                    std::lock_guard<std::mutex> lock(rules_mutex_);
                    out = apply(to_peer_, buffer.data(), static_cast<size_t>(got), &to_offset);
                }
                if (child_open) write_all(to_child_, out.data(), out.size(), stop_);
            }
        }
        if (child_open && (fds[1].revents & (POLLIN | POLLHUP))) {
            ssize_t got = ::read(from_child_, buffer.data(), buffer.size());
            if (got <= 0) {
                child_open = false;
                continue;
            }
            std::string out;
            {
                std::lock_guard<std::mutex> lock(rules_mutex_);
                out = apply(from_peer_, buffer.data(), static_cast<size_t>(got), &from_offset);
            }
            write_all(pty_.master_fd(), out.data(), out.size(), stop_);
        }
    }
}

int LrzszPeer::wait_exit(int timeout_ms) {
    if (pid_ <= 0) return exit_status_;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        int status = 0;
        pid_t done = ::waitpid(pid_, &status, WNOHANG);
        if (done == pid_) {
            pid_ = -1;
            exit_status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            return exit_status_;
        }
        if (std::chrono::steady_clock::now() >= deadline) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    stop_program();
    return -1;
}

void LrzszPeer::stop_program() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    int status = 0;
    for (int i = 0; i < 100 && ::waitpid(pid_, &status, WNOHANG) == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (::waitpid(pid_, &status, WNOHANG) == 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &status, 0);
    }
    pid_ = -1;
}

std::string LrzszPeer::errors() const {
    std::ifstream in(errors_path_);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace transfer_test
