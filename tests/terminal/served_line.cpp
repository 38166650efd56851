#include "served_line.h"

#include "foundation/server_state.h"
#include "platform/serial.h"
#include "serial/port.h"
#include "server_reset.h"
#include "terminal/dispatcher.h"

namespace testing_support {

void ServedLine::SetUp() {
    reset_everything();
    ASSERT_TRUE(pty.ok());
    ql::serial_set_time_divisor(2);
}

void ServedLine::TearDown() {
    if (server.joinable()) {
        if (!finished) pty.write(termsim::command_frame("LINESTOP"));
        ql::server_state().stop_request = true;
        server.join();
    }
    reset_everything();
}

void ServedLine::start() {
    std::unique_ptr<platform::SerialDevice> device;
    ASSERT_EQ(platform::serial_open(pty.slave_path(), device), 0);
    ql::Port* port = ql::port_from_device(std::move(device));
    ASSERT_NE(port, nullptr);
    server = std::thread([this, port] {
        result = ql::serve_terminal(port);
        ql::port_close(port);
        finished = true;
    });
}

termsim::Reply ServedLine::exchange_bytes(const std::string& bytes, int wait_ms) {
    pty.write(bytes);
    std::string got = pty.read(512, wait_ms);
    for (std::string more; !(more = pty.read(512, 150)).empty();) got += more;
    return termsim::decode_reply(got);
}

termsim::Reply ServedLine::exchange_again(const std::string& text) {
    termsim::Reply r;
    for (int i = 0; i < 10 && !r.present; ++i) {
        r = exchange_bytes(termsim::command_frame(text), 3000);
    }
    return r;
}

}  // namespace testing_support
