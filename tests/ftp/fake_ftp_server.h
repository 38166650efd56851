// A scripted FTP peer for the replies a real server does not produce: odd
// greetings, overlong lines, stalled or dropped data connections. It listens
// on 127.0.0.1 and a free port and runs a script on its own thread for the
// first connection. Every wait in it is bounded, so a broken client cannot
// hang a test. It is written on the platform's socket layer and runs in
// the Linux and the Windows build alike.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/sockets.h"

namespace ftp_test {

class FakeSession;

class FakeFtpServer {
  public:
    using Script = std::function<void(FakeSession&)>;
    explicit FakeFtpServer(Script script);
    ~FakeFtpServer();  // waits for the script to end

    int port() const { return port_; }
    std::string port_text() const { return std::to_string(port_); }
    // Waits for the script to end.
    void join();
    // Command lines received so far, in order.
    std::vector<std::string> received() const;
    void record(const std::string& line);

  private:
    platform::SocketHandle listener_ = platform::kNoSocket;
    int port_ = 0;
    Script script_;
    std::thread thread_;
    mutable std::mutex mutex_;
    std::vector<std::string> received_;
};

class FakeSession {
  public:
    FakeSession(FakeFtpServer& server, platform::SocketHandle control);
    ~FakeSession();

    // Control connection.
    bool send(const std::string& raw);    // bytes as they stand; false once the client is gone
    void reply(const std::string& line);  // line + CR LF
    std::string expect();                 // the next command line ("" at end)
    bool peer_closed();                   // true when the client closed
    void close();                         // closes the control connection

    // Passive data: a listener on a free port; the 227 line naming it with
    // the given address numbers; the accept of the client's connection.
    int open_passive();
    void reply_pasv(const std::string& address_numbers = "127,0,0,1");
    bool accept_data();
    // Keeps the receive buffer of the next passive data connection small,
    // so that a client whose bytes are never read soon finds no room to
    // send. Call before accept_data.
    void shrink_passive_receive_buffer();
    // Active data: connects to the address and port of a PORT argument.
    bool connect_active(const std::string& port_argument);
    void data_send(const std::string& bytes);
    std::string data_read_all();
    void data_close();

  private:
    FakeFtpServer& server_;
    platform::SocketHandle control_ = platform::kNoSocket;
    platform::SocketHandle passive_listener_ = platform::kNoSocket;
    int passive_port_ = 0;
    platform::SocketHandle data_ = platform::kNoSocket;
    std::string pending_;
};

}  // namespace ftp_test
