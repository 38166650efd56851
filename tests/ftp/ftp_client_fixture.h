// What the FTP client tests share: the scripted peer's login and the
// fixture that resets the client around each test.
#pragma once

#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "fake_ftp_server.h"
#include "foundation/log.h"
#include "loopback.h"
#include "network/ftp.h"
#include "recording_view.h"
#include "temp_dir.h"
#include "terminal/progress.h"

namespace ftp_client_test {

using ftp_test::FakeFtpServer;
using ftp_test::FakeSession;
using namespace ql;

// Greeting and a full USER/PASS/TYPE login.
inline void login(FakeSession& s) {
    s.reply("220 fake ready");
    if (s.expect() != "USER u") return;
    s.reply("331 password please");
    if (s.expect() != "PASS p") return;
    s.reply("230 in");
    if (s.expect() != "TYPE I") return;
    s.reply("200 binary");
}

// Answers QUIT when it comes.
inline void answer_quit(FakeSession& s) {
    if (s.expect() == "QUIT") s.reply("221 bye");
}

class FtpClientTest : public ::testing::Test {
  protected:
    void SetUp() override {
        log_reset();
        ftp_reset();
        socket_layer_reset();
        progress_reset();
    }
    void TearDown() override {
        ftp_reset();
        socket_layer_reset();
    }

    int open_on(FakeFtpServer& server, int passive = 1) {
        ftp_set_control_port(server.port());
        return ftp_open("127.0.0.1", "u", "p", passive);
    }

    testing_support::RecordingView view;
    testing_support::TempDir dir;
};

// Serves a passive RETR whose data part is played by data_part, then
// replies with final (empty: no final reply).
inline FakeFtpServer::Script passive_download(std::function<void(FakeSession&)> data_part) {
    return [data_part](FakeSession& s) {
        login(s);
        s.expect();
        s.reply_pasv();
        if (!s.accept_data()) return;
        s.expect();
        s.reply("150 sending");
        data_part(s);
        // Whatever the client sends next (ABOR, QUIT) is recorded.
        for (std::string line = s.expect(); !line.empty(); line = s.expect()) {
            if (line == "QUIT") {
                s.reply("221 bye");
                return;
            }
        }
    };
}

}  // namespace ftp_client_test
