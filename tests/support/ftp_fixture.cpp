#include "ftp_fixture.h"

#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace testing_support {

namespace {

constexpr const char* kPython = "/usr/bin/python3";
constexpr auto kStartLimit = std::chrono::seconds(30);

bool file_exists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

}  // namespace

namespace {

// A script of tests/support (from QL_SOURCE_DIR, else beside this file).
std::string support_script(const std::string& name) {
    const char* source = std::getenv("QL_SOURCE_DIR");
    if (source != nullptr && *source != '\0') {
        std::string path = std::string(source) + "/tests/support/" + name;
        if (file_exists(path)) return path;
    }
    std::string here = __FILE__;
    return here.substr(0, here.find_last_of('/') + 1) + name;
}

}  // namespace

std::string ftp_server_script() {
    return support_script("ftp_server.py");
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

FtpServer::FtpServer(FtpServerOptions options) : options_(std::move(options)) {
    home_ = dir_.file("home");
    ::mkdir(home_.c_str(), 0755);
}

FtpServer::~FtpServer() {
    stop();
}

bool FtpServer::start() {
    if (running()) return true;
    std::string port_file = dir_.file("port");
    std::string script = ftp_server_script();
    std::vector<std::string> args = {
        kPython,       script,        "--home",     home_,
        "--user",      options_.user, "--password", options_.password,
        "--port-file", port_file,     "--commands", dir_.file("commands.log"),
        "--holds",     dir_.path()};
    if (options_.announce_size) args.push_back("--announce-size");
    args.insert(args.end(), {"--host", options_.host});
    if (!options_.tls.empty())
        args.insert(args.end(), {"--tls", options_.tls, "--cert", options_.cert});
    if (options_.refuse_epsv) args.push_back("--refuse-epsv");
    std::string rate = std::to_string(options_.rate);
    if (options_.rate > 0) {
        args.push_back("--rate");
        args.push_back(rate);
    }
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    std::string log = dir_.file("server.log");
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    int rc = posix_spawn(&pid_, kPython, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        pid_ = -1;
        error_ = "cannot start " + std::string(kPython) + ": " + std::to_string(rc);
        return false;
    }

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

std::string FtpServer::file(const std::string& name) const {
    return home_ + "/" + name;
}

std::string FtpServer::write(const std::string& name, const std::string& content) const {
    std::string full = file(name);
    std::ofstream out(full, std::ios::binary | std::ios::trunc);
    out << content;
    return full;
}

std::string FtpServer::read(const std::string& name) const {
    return read_whole_file(file(name));
}

std::vector<std::string> FtpServer::commands() const {
    std::vector<std::string> lines;
    std::ifstream in(dir_.file("commands.log"), std::ios::binary);
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
}

void FtpServer::hold(const std::string& command) const {
    std::ofstream(dir_.file("hold-" + command)).put('\n');
}

void FtpServer::release(const std::string& command) const {
    ::unlink(dir_.file("hold-" + command).c_str());
}

bool FtpServer::received(const std::string& prefix, size_t count, int ms) const {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    do {
        size_t seen = 0;
        for (const std::string& line : commands()) {
            if (line.rfind(prefix, 0) == 0) ++seen;
        }
        if (seen >= count) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    } while (std::chrono::steady_clock::now() < deadline);
    return false;
}

std::string FtpServer::server_log() const {
    return read_whole_file(dir_.file("server.log"));
}

}  // namespace testing_support
