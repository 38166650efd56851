// The console server stuck in a network send: a relay server that takes a
// stream upload and never reads it. SIGTERM must end the program promptly,
// well before the send's own 30 s deadline.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cstdio>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "loopback.h"
#include "pty_pair.h"
#include "relayd/relay_server.h"
#include "server_process.h"
#include "temp_dir.h"
#include "termsim.h"

namespace {

using testing_support::kStartMs;
using testing_support::PtyPair;
using testing_support::ServerProcess;
using testing_support::settings_text;
using testing_support::TempDir;
using Clock = std::chrono::steady_clock;

// Sends one command frame and returns the decoded reply.
termsim::Reply send_command(PtyPair& line, const std::string& command) {
    line.discard();
    line.write(termsim::command_frame(command));
    std::string bytes = line.read(256, 20000);
    for (std::string more; !(more = line.read(256, 300)).empty();) bytes += more;
    return termsim::decode_reply(bytes);
}

bool upload_started(const relayd::RelayServer& server) {
    for (const auto& r : server.requests()) {
        if (r.payload.rfind("530", 0) == 0) return true;
    }
    return false;
}

TEST(ConsoleNetworkStall, SigtermEndsAServerStuckInAStreamUploadPromptly) {
    ASSERT_EQ(access(testing_support::quaylink_program().c_str(), X_OK), 0);
    TempDir dir, remote;
    const std::string work = dir.path() + "/work";
    ASSERT_EQ(mkdir(work.c_str(), 0755), 0);
    dir.write("work/BIG.BIN", std::string(16 << 20, 'b'));
    relayd::RelayServer relay(remote.path());
    relay.stream_never_read(true);
    ASSERT_EQ(relay.start(), 0);

    PtyPair line;
    ASSERT_TRUE(line.ok());
    std::string ini =
        dir.write("quaylink.ini",
                  settings_text({"commport=" + line.slave_path(), "connect=direct",
                                 "workdir=" + work, "logfile=CREATE", "logdir=" + dir.path()}));
    // Real time: the send deadline stays 30 s.
    ServerProcess server(ini, 1);
    ASSERT_TRUE(server.started());
    ASSERT_GE(server.wait_for_line("STATUS: READY", kStartMs), 0) << server.transcript();

    termsim::Reply open = send_command(line, "IPCOMM,OPEN,127.0.0.1,user," + relay.port_text());
    ASSERT_EQ(open.status, '0') << termsim::describe(open) << server.transcript();

    line.discard();
    line.write(termsim::command_frame("IPCOMM,SEND,BIG.BIN"));
    const auto sent = Clock::now();
    while (!upload_started(relay) && Clock::now() - sent < std::chrono::seconds(20)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_TRUE(upload_started(relay)) << server.transcript();
    // Time for the buffers to fill: the server now waits for room to send.
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    ASSERT_TRUE(server.running());

    const auto asked = Clock::now();
    server.signal(SIGTERM);
    EXPECT_EQ(server.wait_exit(kStartMs), 0) << server.transcript();
    const auto took =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - asked).count();
    // Well inside the 30 s a stalled send may take by itself (generous for a
    // loaded machine and the sanitizers).
    EXPECT_LT(took, 20000) << server.transcript();
    EXPECT_GE(server.find_line("Communication thread Ending"), 0) << server.transcript();
}

// A hostile FTP server: its greeting never ends. It sends a "220-"
// continuation line every 10 ms to whoever connects, until the peer goes
// away or the test ends.
class EndlessGreetingServer {
  public:
    EndlessGreetingServer() {
        listener_ = testing_support::listen_loopback(port_);
        thread_ = std::thread([this] { run(); });
    }
    ~EndlessGreetingServer() {
        done_ = true;
        thread_.join();
        if (listener_ != platform::kNoSocket) platform::socket_close(listener_);
    }
    std::string port_text() const { return std::to_string(port_); }
    bool connected() const { return connected_; }

  private:
    void run() {
        while (!done_) {
            if (platform::socket_wait(listener_, platform::SocketEvent::kReadable, 100) != 1)
                continue;
            platform::SocketHandle peer = platform::socket_accept(listener_);
            if (peer == platform::kNoSocket) continue;
            connected_ = true;
            const std::string line = "220-still greeting you\r\n";
            while (!done_ && platform::socket_send(peer, line.data(), line.size()) > 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            platform::socket_close(peer);
        }
    }

    platform::SocketHandle listener_ = platform::kNoSocket;
    int port_ = 0;
    std::atomic<bool> done_{false};
    std::atomic<bool> connected_{false};
    std::thread thread_;
};

// An FTP OPEN to a server whose greeting never ends used to hold the
// program for as long as the lines came, SIGTERM included.
TEST(ConsoleNetworkStall, SigtermEndsAnFtpOpenWhoseGreetingNeverEnds) {
    ASSERT_EQ(access(testing_support::quaylink_program().c_str(), X_OK), 0);
    TempDir dir;
    const std::string work = dir.path() + "/work";
    ASSERT_EQ(mkdir(work.c_str(), 0755), 0);
    EndlessGreetingServer ftp;
    PtyPair line;
    ASSERT_TRUE(line.ok());
    std::string ini =
        dir.write("quaylink.ini",
                  settings_text({"commport=" + line.slave_path(), "connect=direct",
                                 "workdir=" + work, "logfile=CREATE", "logdir=" + dir.path()}));
    ServerProcess server(ini, 1);  // real time: the reply time-out stays 30 s
    ASSERT_TRUE(server.started());
    ASSERT_GE(server.wait_for_line("STATUS: READY", kStartMs), 0) << server.transcript();

    line.discard();
    line.write(termsim::command_frame("FTP,OPEN,127.0.0.1,u,p,1," + ftp.port_text()));
    const auto sent = Clock::now();
    while (!ftp.connected() && Clock::now() - sent < std::chrono::seconds(20)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_TRUE(ftp.connected()) << server.transcript();
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    ASSERT_TRUE(server.running());

    const auto asked = Clock::now();
    server.signal(SIGTERM);
    EXPECT_EQ(server.wait_exit(kStartMs), 0) << server.transcript();
    const auto took =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - asked).count();
    std::printf("SIGTERM during the endless greeting to the end of the program: %lld ms\n",
                static_cast<long long>(took));
    EXPECT_LT(took, 5000) << server.transcript();
    EXPECT_GE(server.find_line("Reply error, timeout/close[104]"), 0) << server.transcript();
}

}  // namespace
