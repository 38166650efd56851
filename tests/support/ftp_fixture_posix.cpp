// The FTP test server as a child process: spawned, signalled, reaped.
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "ftp_fixture.h"
#include "ftp_fixture_internal.h"

extern char** environ;

namespace testing_support {

namespace {

constexpr auto kStartLimit = std::chrono::seconds(30);

std::string same_path(const std::string& path) {
    return path;
}

}  // namespace

bool peer_file_exists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

bool ftp_server_available(std::string& why) {
    why.clear();
    return true;
}

bool make_test_certificates(const std::string& folder) {
    std::string script = support_script("make_certs.py");
    std::vector<char*> argv = {const_cast<char*>(kPython), script.data(),
                               const_cast<char*>(folder.c_str()), nullptr};
    pid_t pid = -1;
    if (posix_spawn(&pid, kPython, nullptr, nullptr, argv.data(), environ) != 0) return false;
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid) return false;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool FtpServer::start() {
    if (running()) return true;
    std::vector<std::string> args = arguments(same_path);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    std::string log = dir_.file("server.log");
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = -1;
    int rc = posix_spawn(&pid, kPython, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        error_ = "cannot start " + std::string(kPython) + ": " + std::to_string(rc);
        return false;
    }
    pid_ = pid;

    std::string port_file = dir_.file("port");
    auto deadline = std::chrono::steady_clock::now() + kStartLimit;
    while (std::chrono::steady_clock::now() < deadline) {
        std::ifstream in(port_file);
        if (in >> port_) return true;
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            error_ = "the FTP server ended at start: " + server_log();
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    stop();
    error_ = "the FTP server did not start listening: " + server_log();
    return false;
}

void FtpServer::stop() {
    if (!running()) return;
    ::kill(pid_, SIGTERM);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
}

}  // namespace testing_support
