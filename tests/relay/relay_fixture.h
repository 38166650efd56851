// A relay client test: a fresh loopback relay server over a temporary
// "remote" folder, a temporary local folder, a recording operator view, and
// the relay client, log and progress display started clean.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "foundation/log.h"
#include "network/relay.h"
#include "network/socket.h"
#include "recording_view.h"
#include "relayd/relay_server.h"
#include "temp_dir.h"
#include "terminal/progress.h"

namespace relay_testing {

// Bytes 0..255 repeating, shifted by size so files of different sizes differ.
inline std::string pattern(size_t size) {
    std::string s(size, '\0');
    for (size_t i = 0; i < size; ++i) s[i] = static_cast<char>((i * 7 + size) & 0xff);
    return s;
}

class RelayTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ql::log_reset();
        ql::relay_reset();
        ql::progress_reset();
        ql::socket_layer_reset();
        server = std::make_unique<relayd::RelayServer>(remote.path());
        ASSERT_EQ(server->start(), 0);
    }
    void TearDown() override {
        ql::relay_reset();
        server.reset();
    }

    // Opens the command connection to the test server.
    void open() { ASSERT_EQ(ql::relay_open("127.0.0.1", "user", server->port_text()), 0); }

    bool logged(const std::string& part) const { return view.has_line(part); }

    testing_support::TempDir remote;
    testing_support::TempDir local;
    testing_support::RecordingView view;
    std::unique_ptr<relayd::RelayServer> server;
};

}  // namespace relay_testing
