// POSIX implementation of platform/process.h.
#include "platform/process.h"

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <mutex>

#include "platform/clock.h"

extern char** environ;

namespace platform {

namespace {

// Programs whose handles were given up; reaped once they end.
std::mutex g_released_mutex;
std::vector<int> g_released;

void reap_released() {
    std::lock_guard<std::mutex> lock(g_released_mutex);
    std::vector<int> still;
    for (int pid : g_released) {
        int status = 0;
        pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == 0) still.push_back(pid);  // running; ECHILD means someone reaped it
    }
    g_released.swap(still);
}

// A descriptor that becomes readable when the process ends, or -1 where the
// kernel has none (called through syscall: not every C library declares it).
int open_process_fd(pid_t pid) {
#ifdef SYS_pidfd_open
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
#else
    (void)pid;
    return -1;
#endif
}

void close_handle(Process& p) {
    if (p.handle >= 0) ::close(static_cast<int>(p.handle));
    p = Process{};
}

int exit_code_of(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return 255;
}

// The program started with the server's signal settings reset: blocked
// signals and ignored ones (SIGPIPE above all) would otherwise carry over.
void prepare_attributes(posix_spawnattr_t& attr) {
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    for (int sig : {SIGPIPE, SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGCHLD, SIGUSR1, SIGUSR2}) {
        sigaddset(&defaults, sig);
    }
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
}

// Reaps the program if it has ended. 1 ended, 0 running, -1 failed.
int try_reap(Process& p, int& exit_code) {
    int status = 0;
    pid_t r;
    do {
        r = ::waitpid(p.pid, &status, WNOHANG);
    } while (r < 0 && errno == EINTR);
    if (r < 0) return -1;
    if (r == 0) return 0;
    exit_code = exit_code_of(status);
    return 1;
}

// Sleeps until the program's descriptor is readable or the time is up.
void wait_readable(int fd, uint32_t timeout_ms) {
    uint64_t end = monotonic_ms64() + timeout_ms;
    for (;;) {
        uint64_t now = monotonic_ms64();
        if (now >= end) return;
        pollfd pfd{fd, POLLIN, 0};
        int r = ::poll(&pfd, 1, static_cast<int>(end - now));
        if (r < 0 && errno == EINTR) continue;
        return;
    }
}

// The name a descriptor of this process has for a program started from
// it: resolved in the started program itself, which inherits the
// descriptor.
std::string held_name(FileHandle program) {
    return "/proc/self/fd/" + std::to_string(static_cast<int>(program));
}

// Spawns path with argv; when keep is a descriptor, the program (and only
// the program) inherits it: a dup2 onto itself clears its close-on-exec
// flag in the child alone, so no program started meanwhile by another
// thread gets it.
int spawn(const char* path, char* const argv[], FileHandle keep, pid_t& pid) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (keep != kNoFile) {
        int fd = static_cast<int>(keep);
        posix_spawn_file_actions_adddup2(&actions, fd, fd);
    }
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    prepare_attributes(attr);
    int err = ::posix_spawn(&pid, path, &actions, &attr, argv, environ);
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    return err;
}

int start_words(const std::string& path, const std::string& name,
                const std::vector<std::string>& args, FileHandle keep, Process& out) {
    reap_released();
    out = Process{};
    std::vector<std::string> words = args;
    if (words.empty()) words.push_back(name);
    std::vector<char*> argv;
    for (auto& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);

    pid_t pid = -1;
    int err = spawn(path.c_str(), argv.data(), keep, pid);
    if (err != 0) return err;
    out.pid = pid;
    // Kernels without pidfd leave the handle at -1; process_wait then sleeps in steps.
    out.handle = open_process_fd(pid);
    return 0;
}

}  // namespace

int process_start(const std::string& path, const std::vector<std::string>& args, Process& out) {
    return start_words(path, path, args, kNoFile, out);
}

int process_start_held(FileHandle program, const std::string& name,
                       const std::vector<std::string>& args, Process& out) {
    if (program == kNoFile) return EBADF;
    return start_words(held_name(program), name, args, program, out);
}

int process_wait(Process& p, uint32_t timeout_ms, int& exit_code) {
    reap_released();
    if (p.pid <= 0) return kProcessWaitFailed;
    if (p.handle >= 0) {
        wait_readable(static_cast<int>(p.handle), timeout_ms);
    } else {
        // No descriptor to sleep on: look every 20 ms.
        uint64_t end = monotonic_ms64() + timeout_ms;
        int dummy = 0;
        while (monotonic_ms64() < end) {
            int r = try_reap(p, dummy);
            if (r != 0) {
                exit_code = dummy;
                close_handle(p);
                return r > 0 ? kProcessEnded : kProcessWaitFailed;
            }
            sleep_ms(20);
        }
    }
    int r = try_reap(p, exit_code);
    if (r == 0) return kProcessRunning;
    close_handle(p);
    return r > 0 ? kProcessEnded : kProcessWaitFailed;
}

void process_release(Process& p) {
    if (p.pid > 0) {
        std::lock_guard<std::mutex> lock(g_released_mutex);
        g_released.push_back(p.pid);
    }
    close_handle(p);
    reap_released();
}

int run_command_line(const std::string& line) {
    return std::system(line.c_str());
}

int run_command_line_held(FileHandle program, const std::string& rest) {
    if (program == kNoFile) return -1;
    std::string line = held_name(program) + " " + rest;
    char sh[] = "/bin/sh", dash_c[] = "-c";
    char* argv[] = {sh, dash_c, line.data(), nullptr};
    pid_t pid = -1;
    if (spawn("/bin/sh", argv, program, pid) != 0) return -1;
    int status = 0;
    pid_t r;
    do {
        r = ::waitpid(pid, &status, 0);
    } while (r < 0 && errno == EINTR);
    return r == pid ? status : -1;
}

std::string command_line_word(const std::string& word) {
    bool plain = !word.empty();
    for (char c : word) {
        bool ok = std::isalnum(static_cast<unsigned char>(c)) || c == '/' || c == '.' || c == '_' ||
                  c == '-' || c == '+' || c == ',' || c == ':' || c == '@' || c == '%';
        if (!ok) plain = false;
    }
    if (plain) return word;
    std::string out = "'";
    for (char c : word) {
        if (c == '\'') {
            out += "'\\''";
        } else {
            out += c;
        }
    }
    return out + "'";
}

}  // namespace platform
