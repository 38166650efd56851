#include "server_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>

extern char** environ;

namespace testing_support {

std::string quaylink_program() {
    const char* dir = std::getenv("QL_BIN_DIR");
    return std::string(dir != nullptr ? dir : ".") + "/quaylink";
}

std::string settings_text(const std::vector<std::string>& setup_lines,
                          const std::vector<std::string>& ports_lines) {
    std::string text = "[setup]\r\n";
    for (const std::string& line : setup_lines) text += line + "\r\n";
    if (!ports_lines.empty()) {
        text += "[ports]\r\n";
        for (const std::string& line : ports_lines) text += line + "\r\n";
    }
    return text;
}

ServerProcess::ServerProcess(const std::string& settings_path, int time_divisor,
                             const std::vector<std::string>& extra_words) {
    int pipe_fds[2];
    if (pipe2(pipe_fds, O_CLOEXEC) != 0) return;

    std::vector<std::string> words = {quaylink_program(), "--console", "-I" + settings_path};
    words.insert(words.end(), extra_words.begin(), extra_words.end());
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);

    std::vector<std::string> env_words;
    for (char** e = environ; *e != nullptr; ++e) {
        if (std::strncmp(*e, "QUAYLINK_TIME_DIVISOR=", 22) != 0) env_words.emplace_back(*e);
    }
    if (time_divisor > 1)
        env_words.push_back("QUAYLINK_TIME_DIVISOR=" + std::to_string(time_divisor));
    std::vector<char*> envp;
    for (std::string& e : env_words) envp.push_back(e.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], 2);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    // The test process blocks no signals the server relies on, but reset
    // the mask anyway: the child must see SIGINT and SIGTERM.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK);
    pid_t pid = -1;
    int rc = posix_spawn(&pid, argv[0], &actions, &attr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    close(pipe_fds[1]);
    if (rc != 0) {
        close(pipe_fds[0]);
        return;
    }
    pid_ = pid;
    int fd = pipe_fds[0];
    reader_ = std::thread([this, fd] { collect(fd); });
}

ServerProcess::~ServerProcess() {
    if (pid_ > 0 && wait_exit(0) == -1 && !reaped_) {
        kill(pid_, SIGKILL);
        wait_exit(10000);
    }
    if (reader_.joinable()) reader_.join();
}

void ServerProcess::collect(int fd) {
    std::string pending;
    char buffer[4096];
    for (;;) {
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        pending.append(buffer, static_cast<size_t>(n));
        size_t end;
        while ((end = pending.find('\n')) != std::string::npos) {
            std::lock_guard<std::mutex> lock(mutex_);
            lines_.push_back(pending.substr(0, end));
            pending.erase(0, end + 1);
            changed_.notify_all();
        }
    }
    close(fd);
    std::lock_guard<std::mutex> lock(mutex_);
    if (!pending.empty()) lines_.push_back(pending);
    eof_ = true;
    changed_.notify_all();
}

int ServerProcess::find_line(const std::string& part, size_t from) const {
    std::lock_guard<std::mutex> lock(mutex_);
    for (size_t i = from; i < lines_.size(); ++i)
        if (lines_[i].find(part) != std::string::npos) return static_cast<int>(i);
    return -1;
}

int ServerProcess::wait_for_line(const std::string& part, int timeout_ms, size_t from) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    std::unique_lock<std::mutex> lock(mutex_);
    size_t next = from;
    for (;;) {
        for (; next < lines_.size(); ++next)
            if (lines_[next].find(part) != std::string::npos) return static_cast<int>(next);
        if (eof_) return -1;
        if (changed_.wait_until(lock, deadline) == std::cv_status::timeout) {
            for (; next < lines_.size(); ++next)
                if (lines_[next].find(part) != std::string::npos) return static_cast<int>(next);
            return -1;
        }
    }
}

std::vector<std::string> ServerProcess::lines() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
}

std::string ServerProcess::transcript() const {
    std::string text;
    for (const std::string& line : lines()) text += "  | " + line + "\n";
    return text;
}

void ServerProcess::signal(int signo) {
    if (pid_ > 0 && !reaped_) kill(pid_, signo);
}

int ServerProcess::wait_exit(int timeout_ms) {
    if (pid_ <= 0) return -1;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!reaped_) {
        int status = 0;
        pid_t r = waitpid(pid_, &status, WNOHANG);
        if (r == pid_) {
            reaped_ = true;
            status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            break;
        }
        if (std::chrono::steady_clock::now() >= deadline) return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return status_;
}

bool ServerProcess::running() {
    return wait_exit(0) == -1;
}

termsim::Reply exchange(PtyPair& line, const std::string& command) {
    line.discard();
    line.write(termsim::command_frame(command));
    std::string bytes = line.read(256, kStepMs);
    // The rest of the reply, if it came in pieces.
    for (std::string more; !(more = line.read(256, 300)).empty();) bytes += more;
    return termsim::decode_reply(bytes);
}

}  // namespace testing_support
