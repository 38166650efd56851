// The command loop served on the slave side of a pseudo-terminal pair while
// the test plays the terminal on the master side: the set-up that the
// end-to-end terminal tests share, and an FTP or a relay server beside it
// for those that need one.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "foundation/settings.h"
#include "ftp_fixture.h"
#include "network/bridge.h"
#include "pty_pair.h"
#include "recording_view.h"
#include "relayd/relay_server.h"
#include "temp_dir.h"
#include "termsim.h"

namespace testing_support {

class ServedLine : public ::testing::Test {
  protected:
    // Every setting at its start-up value, and the line's reads at half
    // their real length: 2.5 s for a frame or the terminal's ACK, which
    // stays generous on a slow machine.
    void SetUp() override;
    // A loop still running is sent LINESTOP, asked to stop and waited for.
    void TearDown() override;

    // Starts the command loop on the slave side; result and finished tell
    // how it ended.
    void start();

    // Writes bytes and returns the reply: everything that arrives until the
    // line has been quiet for a moment (a reply is written in one piece).
    termsim::Reply exchange_bytes(const std::string& bytes, int wait_ms = 20000);
    termsim::Reply exchange(const std::string& text) {
        return exchange_bytes(termsim::command_frame(text));
    }
    // The reply to a command sent after a RECV or SEND was answered with
    // something other than ACK: the server reads that answer until the line
    // is quiet and gives no sign when it is done, so a command sent too soon
    // is swallowed with it. Asked again until it is answered.
    termsim::Reply exchange_again(const std::string& text);

    TempDir dir;
    PtyPair pty;
    RecordingView view;
    std::thread server;
    std::atomic<bool> finished{false};
    std::atomic<int> result{-1};
};

// Adds an FTP server on 127.0.0.1 (tests/support's pyftpdlib), passive
// data connections, the server as the FTP defaults, and open_frame: the
// terminal's FTP,OPEN command for it.
template <class Base>
class WithFtp : public Base {
  protected:
    void SetUp() override {
        Base::SetUp();
        if (::testing::Test::HasFatalFailure()) return;
        ASSERT_TRUE(ftp.start()) << ftp.error();
        ql::settings().passive = true;
        ql::ftp_set_defaults("127.0.0.1", ftp.user(), ftp.password(), 0);
        open_frame =
            "FTP,OPEN,127.0.0.1," + ftp.user() + "," + ftp.password() + ",1," + ftp.port_text();
    }

    FtpServer ftp;
    std::string open_frame;
};

// Adds a relay server on 127.0.0.1 that serves the folder `remote` and
// takes the login "LOGIN", with the settings that point the terminal's
// relay commands at it.
template <class Base>
class WithRelay : public Base {
  protected:
    void SetUp() override {
        Base::SetUp();
        if (::testing::Test::HasFatalFailure()) return;
        relay = std::make_unique<relayd::RelayServer>(remote.path());
        ASSERT_EQ(relay->start(), 0);
        relay->set_login("LOGIN");
        ql::settings().iphost = "127.0.0.1";
        ql::settings().ipport = relay->port_text();
        ql::settings().ipuser = "LOGIN";
    }
    void TearDown() override {
        Base::TearDown();
        relay.reset();
    }

    TempDir remote;
    std::unique_ptr<relayd::RelayServer> relay;
};

}  // namespace testing_support
