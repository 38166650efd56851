// A real FTP server for tests: tests/support/ftp_server.py (pyftpdlib, run
// with /usr/bin/python3) on 127.0.0.1 and a free port, serving one user
// whose home is a fresh temporary folder. It understands the server-side
// copy commands COPY, COPYDEL, APPEND and APPDEL (reply 220 on success, 5xx
// on failure) and stores an upload with an empty name as dbin-NNN.dat in
// the home folder.
//
//   testing_support::FtpServer server;
//   ASSERT_TRUE(server.start()) << server.error();
//   server.write("a.txt", "hello");
//   ftp_open("127.0.0.1", server.user(), server.password(), 1) after
//   ftp_set_control_port(server.port());
//
// The server is stopped by stop() or the destructor.
//
// Windows: the test program runs under wine, which starts the Linux python3
// as a Linux process it can neither wait for nor signal; the server then
// ends when its keeper connection closes (ftp_server.py --keeper), and the
// paths handed over are wine's Unix names of the Windows ones.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "loopback.h"
#include "temp_dir.h"

namespace testing_support {

struct FtpServerOptions {
    std::string user = "quay";
    std::string password = "link";
    // Preliminary RETR replies end in "(N bytes)." with the file size.
    bool announce_size = false;
    // The address to listen on: "127.0.0.1", or "::1" for IPv6.
    std::string host = "127.0.0.1";
    // "" plain FTP (AUTH TLS is an unknown command), "explicit" or
    // "implicit"; both need cert (a PEM file with certificate and key).
    std::string tls;
    std::string cert;
    // EPSV is answered 502, as by a server that lacks it.
    bool refuse_epsv = false;
    // Bytes a second each data connection moves at most (0: no limit).
    int rate = 0;
};

class FtpServer {
  public:
    explicit FtpServer(FtpServerOptions options = {});
    ~FtpServer();
    FtpServer(const FtpServer&) = delete;
    FtpServer& operator=(const FtpServer&) = delete;

    // Starts the server and waits (up to 30 s) until it listens. False, with
    // the reason in error(), when it does not come up.
    bool start();
    // Stops the server (no effect when not running).
    void stop();
    bool running() const { return pid_ > 0; }

    int port() const { return port_; }
    std::string port_text() const { return std::to_string(port_); }
    const std::string& user() const { return options_.user; }
    const std::string& password() const { return options_.password; }

    // The user's home folder, without a trailing separator.
    const std::string& home() const { return home_; }
    // home() + "/" + name
    std::string file(const std::string& name) const;
    // Writes content to a file in the home folder; returns its full path.
    std::string write(const std::string& name, const std::string& content) const;
    // Reads a file of the home folder; empty when missing.
    std::string read(const std::string& name) const;

    // Every command line the server received so far, in order.
    std::vector<std::string> commands() const;
    // While held, the answer to command (a word such as "USER") waits, up
    // to 20 s; release lets it go. received waits (up to ms) until count
    // command lines begin with prefix.
    void hold(const std::string& command) const;
    void release(const std::string& command) const;
    bool received(const std::string& prefix, size_t count = 1, int ms = 20000) const;
    // The server's own log (for failure messages).
    std::string server_log() const;
    const std::string& error() const { return error_; }

  private:
    // The server's command line; peer_path turns a path of this program
    // into the name the server's system knows it by.
    std::vector<std::string> arguments(std::string (*peer_path)(const std::string&)) const;

    FtpServerOptions options_;
    TempDir dir_;
    std::string home_;
    int pid_ = -1;  // POSIX: the server's process; Windows: > 0 while it runs
    platform::SocketHandle keeper_ = platform::kNoSocket;  // Windows: the keeper connection
    int port_ = 0;
    std::string error_;
};

// Whether this test program can start the server: always on Linux; on
// Windows only under wine (which runs the Linux python3). why says what is
// missing.
bool ftp_server_available(std::string& why);

// Path of ftp_server.py (from QL_SOURCE_DIR, else beside this source file).
std::string ftp_server_script();

// Makes the test certificates of tests/support/make_certs.py in folder:
// ca.pem, and good.pem, wrongname.pem, expired.pem and unknown.pem (each a
// server certificate with its key). False when the tool failed.
bool make_test_certificates(const std::string& folder);

}  // namespace testing_support
