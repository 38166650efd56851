// The IR cradle baud handshake against a simulated cradle on a pty.
#include <atomic>
#include <chrono>
#include <thread>

#include "ir_cradle_sim.h"
#include "serial_fixture.h"

using serial_testing::SerialTest;
using testing_support::IrCradleSim;

namespace {

class IrCradle : public SerialTest {
  protected:
    int count_lines(const std::string& part) const {
        int n = 0;
        for (const auto& line : view.lines()) n += line.find(part) != std::string::npos;
        return n;
    }
    std::vector<int> probe_rates(const IrCradleSim& cradle) const {
        std::vector<int> rates;
        for (const auto& b : cradle.received())
            if (b.value == 0x0F) rates.push_back(b.baud);
        return rates;
    }
};

TEST_F(IrCradle, FoundOnTheFourthRateAndToldTheWantedRate) {
    ql::serial_set_time_divisor(2);
    ql::log_state().verbosity = 2;
    IrCradleSim cradle(pty, 19200);
    map_port(6);
    ql::Port* port = ql::port_open(6, 38400, ql::kConnectIrda);
    ASSERT_NE(port, nullptr);
    EXPECT_EQ(probe_rates(cradle), (std::vector<int>{57600, 115200, 38400, 19200}));
    EXPECT_EQ(cradle.after_echo(), std::string("\x07"
                                               "4Q"));
    EXPECT_EQ(cradle.rate(), 38400);
    EXPECT_EQ(pty.slave_baud(), 38400);
    EXPECT_TRUE(view.has_line("Get Baud [19200]"));
    EXPECT_TRUE(view.has_line("Set Baud [38400]"));
    // The port itself now works at the wanted rate.
    EXPECT_EQ(ql::port_write(port, "X", 1), 1);
    ql::port_close(port);
}

TEST_F(IrCradle, ASilentCradleIsReportedTwiceAndThePortStaysShut) {
    // Wide enough windows for the simulator to see each probe at its rate.
    ql::serial_set_time_divisor(2);
    IrCradleSim cradle(pty, 0);
    map_port(2);
    EXPECT_EQ(ql::port_open(2, 38400, ql::kConnectIrda), nullptr);
    EXPECT_EQ(count_lines("IR Cradle Not Found"), 2);
    std::vector<int> once{57600, 115200, 38400, 19200, 9600};
    std::vector<int> twice = once;
    twice.insert(twice.end(), once.begin(), once.end());
    EXPECT_EQ(probe_rates(cradle), twice);
    EXPECT_EQ(cradle.received().size(), 10u);  // nothing but the probes
    EXPECT_EQ(ql::port_present(2), 0);         // and nothing left open
}

TEST_F(IrCradle, TheSecondProbeWaitsForALateEchoToo) {
    // A cradle that sleeps through the whole first probe and then echoes
    // the first byte of the second probe late: after the pause that follows
    // the probe byte, but well inside the answer wait.
    ql::serial_set_time_divisor(2);  // pause 50 ms, answer wait 500 ms
    ql::log_state().verbosity = 2;
    map_port(2);
    std::atomic<bool> stop{false};
    std::thread cradle([&] {
        int probes = 0;
        while (!stop && probes < 6) {
            for (char c : pty.read(16, 20)) probes += c == 0x0F;
        }
        if (probes < 6) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        pty.write("\x0F", 1);
    });
    ql::Port* port = ql::port_open(2, 38400, ql::kConnectIrda);
    stop = true;
    cradle.join();
    EXPECT_NE(port, nullptr);
    EXPECT_EQ(count_lines("IR Cradle Not Found"), 1);
    EXPECT_TRUE(view.has_line("Get Baud [57600]"));
    ql::port_close(port);
}

TEST_F(IrCradle, ARateWithoutDigitSendsOnlyTheFrame) {
    ql::serial_set_time_divisor(2);
    IrCradleSim cradle(pty, 57600);
    map_port(2);
    EXPECT_EQ(ql::ir_cradle_set_baud(2, 76800), 0);
    EXPECT_EQ(cradle.after_echo(), std::string("\x07Q"));
    EXPECT_EQ(cradle.rate(), 57600);
    EXPECT_FALSE(view.has_line("Get Baud"));  // verbosity 1
}

TEST_F(IrCradle, AMissingDeviceFailsBeforeAnyProbe) {
    dir.write("quaylink.ini", "[ports]\r\ncom2=" + dir.file("none") + "\r\n");
    EXPECT_EQ(ql::ir_cradle_set_baud(2, 38400), -1);
    EXPECT_TRUE(view.has_line("Comm CreateFile Error: 2"));
}

}  // namespace
