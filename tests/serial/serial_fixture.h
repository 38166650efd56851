// Common set-up of the serial tests: clean settings and log, a temporary
// program folder with a settings file, a recording view and a pty pair.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "foundation/log.h"
#include "foundation/server_state.h"
#include "foundation/settings.h"
#include "platform/clock.h"
#include "pty_pair.h"
#include "recording_view.h"
#include "serial/port.h"
#include "temp_dir.h"

namespace serial_testing {

class SerialTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ql::settings_reset_defaults();
        ql::log_reset();
        ql::server_state_reset();
        ql::port_reset_state();
        ql::serial_set_time_divisor(1);
        ql::server_paths_set(dir.path(), "");
        ASSERT_TRUE(pty.ok());
    }
    void TearDown() override {
        ql::serial_set_time_divisor(1);
        ql::port_reset_state();
        ql::log_reset();
    }

    // Maps port number n to the pty's slave in the settings file.
    void map_port(int n) {
        dir.write("quaylink.ini", "[setup]\r\ncommport=" + std::to_string(n) +
                                      "\r\n[ports]\r\ncom" + std::to_string(n) + "=" +
                                      pty.slave_path() + "\r\n");
    }

    // Opens the pty as port 3 (direct connection) at baud.
    ql::Port* open_pty(int baud = 57600) {
        map_port(3);
        return ql::port_open(3, baud, ql::kConnectDirect);
    }

    testing_support::TempDir dir;
    testing_support::RecordingView view;
    testing_support::PtyPair pty;
};

// Milliseconds since start on the monotonic clock.
inline uint64_t elapsed(uint64_t start) {
    return platform::monotonic_ms64() - start;
}

}  // namespace serial_testing
