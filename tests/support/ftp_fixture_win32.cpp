// The FTP test server under wine: wine starts the Linux python3 as a Linux
// process and hands back no handle to wait on or end, so the server ends
// when its keeper connection does, and every path goes over as wine's Unix
// name for it.
#include <windows.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "ftp_fixture.h"
#include "ftp_fixture_internal.h"
#include "platform/process.h"

namespace testing_support {

namespace {

constexpr auto kStartLimit = std::chrono::seconds(30);
constexpr auto kCertificateLimit = std::chrono::seconds(60);
constexpr int kStopLimitMs = 10000;

using UnixNameFunction = char*(CDECL*)(const wchar_t*);

// wine's own export that names a Windows path as a Unix one; null outside
// wine.
UnixNameFunction unix_name_function() {
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    if (kernel == nullptr) return nullptr;
    return reinterpret_cast<UnixNameFunction>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "wine_get_unix_file_name")));
}

std::wstring wide(const std::string& text) {
    int n = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    std::wstring out(n > 0 ? n : 1, L'\0');
    if (n > 0) MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, out.data(), n);
    out.resize(wcslen(out.c_str()));
    return out;
}

// A path of this program as the Linux server knows it ("" when wine
// cannot name it).
std::string unix_path(const std::string& path) {
    UnixNameFunction name = unix_name_function();
    if (name == nullptr || path.empty()) return "";
    std::wstring windows = wide(path);
    for (wchar_t& c : windows) {
        if (c == L'/') c = L'\\';
    }
    char* unix = name(windows.c_str());
    if (unix == nullptr) return "";
    std::string out = unix;
    HeapFree(GetProcessHeap(), 0, unix);
    return out;
}

// Starts a Linux program through wine's Z: drive (the Unix root). wine
// gives no handle for it: nothing is kept.
bool start_linux_program(const std::vector<std::string>& args) {
    platform::Process process;
    if (platform::process_start(std::string("Z:") + args.front(), args, process) != 0) return false;
    platform::process_release(process);
    return true;
}

bool all_exist(const std::string& folder, std::initializer_list<const char*> names) {
    for (const char* name : names) {
        std::error_code ec;
        if (!std::filesystem::exists(folder + "/" + name, ec)) return false;
    }
    return true;
}

}  // namespace

bool peer_file_exists(const std::string& path) {
    std::error_code ec;
    return std::filesystem::exists("Z:" + path, ec);
}

bool ftp_server_available(std::string& why) {
    why.clear();
    if (unix_name_function() == nullptr) {
        why = "the test FTP server is a Linux python3 program: it runs only under wine";
        return false;
    }
    if (!peer_file_exists(kPython)) {
        why = std::string(kPython) + " is missing (tools/setup-deps.sh installs it)";
        return false;
    }
    return true;
}

bool make_test_certificates(const std::string& folder) {
    std::string unix_folder = unix_path(folder);
    if (unix_folder.empty()) return false;
    if (!start_linux_program({kPython, support_script("make_certs.py"), unix_folder})) return false;
    // make_certs.py writes each file whole (under a temporary name first).
    auto deadline = std::chrono::steady_clock::now() + kCertificateLimit;
    while (std::chrono::steady_clock::now() < deadline) {
        if (all_exist(folder,
                      {"ca.pem", "good.pem", "wrongname.pem", "expired.pem", "unknown.pem"}))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

bool FtpServer::start() {
    if (running()) return true;
    std::vector<std::string> args = arguments(unix_path);
    args.insert(args.end(), {"--log", unix_path(dir_.file("server.log")), "--keeper"});
    if (!start_linux_program(args)) {
        error_ = "cannot start " + std::string(kPython) + " through wine";
        return false;
    }
    int keeper_port = 0;
    auto deadline = std::chrono::steady_clock::now() + kStartLimit;
    while (keeper_port == 0 && std::chrono::steady_clock::now() < deadline) {
        std::ifstream in(dir_.file("port"));
        if (!(in >> port_ >> keeper_port)) {
            keeper_port = 0;
            if (server_log().find("Traceback") != std::string::npos) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    if (keeper_port == 0) {
        error_ = "the FTP server did not start listening: " + server_log();
        return false;
    }
    int major = 0;
    int minor = 0;
    platform::socket_library_start(major, minor);
    keeper_ = platform::socket_create_tcp();
    if (keeper_ == platform::kNoSocket ||
        platform::socket_connect(keeper_, kLoopback, keeper_port, 5000) != 0) {
        // Unconnected, the server ends by itself within a minute.
        if (keeper_ != platform::kNoSocket) platform::socket_close(keeper_);
        keeper_ = platform::kNoSocket;
        error_ = "cannot reach the FTP server's keeper port";
        return false;
    }
    pid_ = 1;
    return true;
}

// One byte on the keeper connection ends the server; its end closes the
// connection, which says that the server is gone.
void FtpServer::stop() {
    if (!running()) return;
    platform::socket_send(keeper_, "x", 1);
    char byte = 0;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStopLimitMs);
    while (std::chrono::steady_clock::now() < deadline) {
        if (platform::socket_wait(keeper_, platform::SocketEvent::kReadable, 100) <= 0) continue;
        long n = platform::socket_receive(keeper_, &byte, 1);
        if (n == 0 || (n < 0 && !platform::socket_would_block())) break;
    }
    platform::socket_close(keeper_);
    keeper_ = platform::kNoSocket;
    pid_ = -1;
}

}  // namespace testing_support
