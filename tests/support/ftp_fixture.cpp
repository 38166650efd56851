// What the FTP test server fixture does the same way on every system: its
// command line, its folder and what it wrote. Starting and stopping the
// server is in ftp_fixture_posix.cpp and ftp_fixture_win32.cpp.
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "ftp_fixture.h"
#include "ftp_fixture_internal.h"

namespace testing_support {

std::string support_script(const std::string& name) {
    const char* source = std::getenv("QL_SOURCE_DIR");
    if (source != nullptr && *source != '\0') {
        std::string path = std::string(source) + "/tests/support/" + name;
        if (peer_file_exists(path)) return path;
    }
    std::string here = __FILE__;
    return here.substr(0, here.find_last_of('/') + 1) + name;
}

std::string ftp_server_script() {
    return support_script("ftp_server.py");
}

FtpServer::FtpServer(FtpServerOptions options) : options_(std::move(options)) {
    home_ = dir_.file("home");
    std::error_code ec;
    std::filesystem::create_directory(home_, ec);
}

FtpServer::~FtpServer() {
    stop();
}

std::vector<std::string> FtpServer::arguments(std::string (*peer_path)(const std::string&)) const {
    std::vector<std::string> args = {kPython,       ftp_server_script(),
                                     "--home",      peer_path(home_),
                                     "--user",      options_.user,
                                     "--password",  options_.password,
                                     "--port-file", peer_path(dir_.file("port")),
                                     "--commands",  peer_path(dir_.file("commands.log")),
                                     "--host",      options_.host,
                                     "--holds",     peer_path(dir_.path())};
    if (options_.announce_size) args.push_back("--announce-size");
    if (!options_.tls.empty())
        args.insert(args.end(), {"--tls", options_.tls, "--cert", peer_path(options_.cert)});
    if (options_.refuse_epsv) args.push_back("--refuse-epsv");
    if (options_.rate > 0) args.insert(args.end(), {"--rate", std::to_string(options_.rate)});
    return args;
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
    std::error_code ec;
    std::filesystem::remove(dir_.file("hold-" + command), ec);
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
