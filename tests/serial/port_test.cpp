// Opening ports and the timed read, over pseudo-terminals.
#include <thread>

#include "serial_fixture.h"

using serial_testing::elapsed;
using serial_testing::SerialTest;

namespace {

class Port : public SerialTest {};

TEST_F(Port, NumbersMapToTheirOwnEntryOrTheSerialDevice) {
    dir.write("quaylink.ini",
              "[setup]\r\ncommport=1\r\n[ports]\r\ncom12=/dev/serial/by-id/usb-cradle\r\n"
              "com1 = /dev/ttyUSB7\r\n");
    EXPECT_EQ(ql::port_device_path(12), "/dev/serial/by-id/usb-cradle");
    EXPECT_EQ(ql::port_device_path(1), "/dev/ttyUSB7");  // not taken by com12
    EXPECT_EQ(ql::port_device_path(2), "/dev/ttyS1");
    EXPECT_EQ(ql::port_display_name(12), "COM12");
    ql::settings().commport = 0;
    ql::settings().commport_device = "/dev/ttyACM0";
    EXPECT_EQ(ql::port_device_path(0), "/dev/ttyACM0");
    EXPECT_EQ(ql::port_display_name(0), "/dev/ttyACM0");
}

TEST_F(Port, Port12OpensItsMappedDeviceAndCarriesBytesBothWays) {
    map_port(12);
    ql::Port* port = ql::port_open(12, 115200, ql::kConnectDirect);
    ASSERT_NE(port, nullptr);
    EXPECT_EQ(pty.slave_baud(), 115200);
    EXPECT_EQ(ql::port_write(port, "HELLO", 5), 5);
    EXPECT_EQ(pty.read_exactly(5, 2000), "HELLO");
    pty.write("\x02REPLY\x00\xff", 8);
    char buffer[129];
    EXPECT_EQ(ql::port_read(port, buffer, 128, 2000, ql::kNoBlockHint), 8);
    EXPECT_EQ(std::string(buffer, 8), std::string("\x02REPLY\x00\xff", 8));
    EXPECT_EQ(buffer[8], 0);
    ql::port_close(port);
}

TEST_F(Port, EveryDialogRateIsAccepted) {
    for (int baud : {9600, 19200, 38400, 57600, 76800, 115200}) {
        ql::Port* port = open_pty(baud);
        ASSERT_NE(port, nullptr) << baud;
        EXPECT_EQ(pty.slave_baud(), baud);
        ql::port_close(port);
    }
}

TEST_F(Port, ARateBelowOneIsRefusedAtTheLineSettings) {
    map_port(3);
    for (int baud : {0, -9600}) {
        view.status_list_clear();
        EXPECT_EQ(ql::port_open(3, baud, ql::kConnectDirect), nullptr) << baud;
        EXPECT_TRUE(view.has_line("Comm SetCommState Error: 22")) << baud;
    }
    ql::Port* port = open_pty(9600);  // the line itself is unharmed
    ASSERT_NE(port, nullptr);
    EXPECT_EQ(pty.slave_baud(), 9600);
    ql::port_close(port);
}

TEST_F(Port, AMissingDeviceIsLoggedAndNotOpened) {
    dir.write("quaylink.ini", "[ports]\r\ncom4=" + dir.file("nothing") + "\r\n");
    EXPECT_EQ(ql::port_open(4, 9600, ql::kConnectDirect), nullptr);
    EXPECT_TRUE(view.has_line("Comm CreateFile Error: 2")) << view.lines().size();
    EXPECT_EQ(ql::port_present(4), -1);
}

TEST_F(Port, ASecondOpenOfAHeldPortIsRefusedAsBusy) {
    ql::Port* port = open_pty();
    ASSERT_NE(port, nullptr);
    EXPECT_EQ(ql::port_present(3), -1);
    EXPECT_EQ(ql::port_open(3, 57600, ql::kConnectDirect), nullptr);
    EXPECT_TRUE(view.has_line("Comm CreateFile Error: 16"));
    ql::port_close(port);
    EXPECT_EQ(ql::port_present(3), 0);
    EXPECT_EQ(ql::port_present(3), 0);  // present closes what it opened
}

TEST_F(Port, ANonTerminalDeviceFailsAtTheLineSettings) {
    std::string file = dir.write("plain", "x");
    dir.write("quaylink.ini", "[ports]\r\ncom5=" + file + "\r\n");
    EXPECT_EQ(ql::port_open(5, 9600, ql::kConnectDirect), nullptr);
    EXPECT_TRUE(view.has_line("Comm GetCommState Error: 25"));
}

TEST_F(Port, TimeoutsChangeOnlyWhenTheTotalChanges) {
    ql::Port* port = open_pty();
    ASSERT_NE(port, nullptr);
    EXPECT_EQ(ql::port_timeouts(port).writes, 1);
    EXPECT_EQ(ql::port_timeouts(port).total_constant, 5000u);
    EXPECT_EQ(ql::port_timeouts(port).interval_ms, 125u);
    char buffer[9];
    ql::settings().interchardelay = 40;
    pty.write("a");
    ql::port_read(port, buffer, 8, 5000, ql::kNoBlockHint);
    EXPECT_EQ(ql::port_timeouts(port).writes, 1);
    pty.write("b");
    ql::port_read(port, buffer, 8, 10000, ql::kNoBlockHint);
    pty.write("c");
    ql::port_read(port, buffer, 8, 10000, ql::kNoBlockHint);
    EXPECT_EQ(ql::port_timeouts(port).writes, 2);
    EXPECT_EQ(ql::port_timeouts(port).total_constant, 10000u);
    EXPECT_EQ(ql::port_timeouts(port).interval_ms, 40u);
    ql::port_read(port, buffer, 8, 20, ql::kNoBlockHint);
    EXPECT_EQ(ql::port_timeouts(port).writes, 3);
    EXPECT_EQ(ql::port_current_read_timeout(), 20u);
    ql::port_close(port);
}

// Writes the bytes one at a time with a pause between them.
std::thread trickle(testing_support::PtyPair& pty, const std::string& bytes, int gap_ms) {
    return std::thread([&pty, bytes, gap_ms] {
        for (char c : bytes) {
            pty.write(&c, 1);
            platform::sleep_ms(gap_ms);
        }
    });
}

TEST_F(Port, NormalReadWaitsThroughShortGapsUntilMaxBytes) {
    ql::settings().interchardelay = 400;
    ql::Port* port = open_pty();
    ASSERT_NE(port, nullptr);
    char buffer[7];
    std::thread writer = trickle(pty, "ABCDEFGH", 30);
    int n = ql::port_read(port, buffer, 6, 10000, ql::kNoBlockHint);
    writer.join();
    EXPECT_EQ(n, 6);
    EXPECT_STREQ(buffer, "ABCDEF");
    ql::port_close(port);
}

TEST_F(Port, NormalReadEndsAtTheTotalTimeoutWhileBytesKeepComing) {
    ql::settings().interchardelay = 400;
    ql::Port* port = open_pty();
    ASSERT_NE(port, nullptr);
    char buffer[201];
    std::thread writer = trickle(pty, std::string(60, 'x'), 25);
    uint64_t start = platform::monotonic_ms64();
    int n = ql::port_read(port, buffer, 200, 600, ql::kNoBlockHint);
    uint64_t took = elapsed(start);
    writer.join();
    EXPECT_GT(n, 3);
    EXPECT_LT(n, 60);
    EXPECT_GE(took, 590u);
    EXPECT_LT(took, 1400u);
    ql::port_close(port);
}

TEST_F(Port, NormalReadEndsAtTheFirstLongGapAndSilenceGivesZero) {
    ql::settings().interchardelay = 100;
    ql::Port* port = open_pty();
    ASSERT_NE(port, nullptr);
    char buffer[65];
    pty.write("XYZ");
    uint64_t start = platform::monotonic_ms64();
    EXPECT_EQ(ql::port_read(port, buffer, 64, 5000, ql::kNoBlockHint), 3);
    EXPECT_LT(elapsed(start), 1500u);
    start = platform::monotonic_ms64();
    EXPECT_EQ(ql::port_read(port, buffer, 64, 300, ql::kNoBlockHint), 0);
    EXPECT_GE(elapsed(start), 290u);
    EXPECT_EQ(buffer[0], 0);
    ql::port_close(port);
}

class AltRead : public SerialTest {
  protected:
    void SetUp() override {
        SerialTest::SetUp();
        ql::settings().altread = true;
        ql::settings().interchardelay = 150;
    }
};

TEST_F(AltRead, ThreeBytesThenSilenceReturnAfterTheDelay) {
    ql::Port* port = open_pty();
    ASSERT_NE(port, nullptr);
    EXPECT_EQ(ql::port_timeouts(port).interval_ms, 1u);
    EXPECT_EQ(ql::port_timeouts(port).total_constant, 10u);
    char buffer[129];
    pty.write("abc");
    uint64_t start = platform::monotonic_ms64();
    EXPECT_EQ(ql::port_read(port, buffer, 128, 5000, ql::kNoBlockHint), 3);
    uint64_t took = elapsed(start);
    EXPECT_STREQ(buffer, "abc");
    EXPECT_GE(took, 140u);
    EXPECT_LT(took, 2000u);
    // The byte reader's own time-outs went in once.
    EXPECT_EQ(ql::port_timeouts(port).total_constant, 50u);
    EXPECT_EQ(ql::port_current_read_timeout(), 50u);
    ql::port_close(port);
}

TEST_F(AltRead, SilenceReturnsZeroAfterTheTotalTimeout) {
    ql::Port* port = open_pty();
    ASSERT_NE(port, nullptr);
    char buffer[129];
    uint64_t start = platform::monotonic_ms64();
    EXPECT_EQ(ql::port_read(port, buffer, 128, 400, ql::kNoBlockHint), 0);
    uint64_t took = elapsed(start);
    EXPECT_GE(took, 390u);
    EXPECT_LT(took, 2500u);
    ql::port_close(port);
}

TEST_F(AltRead, SohUnderABlockHintStopsAtHintPlus132) {
    ql::Port* port = open_pty();
    ASSERT_NE(port, nullptr);
    std::string block(300, 'd');
    block[0] = 0x01;
    pty.write(block);
    char buffer[301];
    EXPECT_EQ(ql::port_read(port, buffer, 300, 5000, 128), 260);
    // Without the SOH the hint changes nothing.
    pty.discard();
    char rest[301];
    ql::port_read(port, rest, 300, 300, ql::kNoBlockHint);  // drain the last 40
    pty.write(std::string(300, 'e'));
    EXPECT_EQ(ql::port_read(port, buffer, 300, 5000, 128), 300);
    ql::port_close(port);
}

TEST_F(AltRead, ABlockLongerThanTheBufferIsCutAtMax) {
    ql::Port* port = open_pty();
    ASSERT_NE(port, nullptr);
    std::string block(200, 'd');
    block[0] = 0x01;
    pty.write(block);
    char buffer[133];
    EXPECT_EQ(ql::port_read(port, buffer, 132, 5000, 1024), 132);
    EXPECT_EQ(buffer[132], 0);
    ql::port_close(port);
}

}  // namespace

namespace {

TEST_F(Port, AnOpenDeviceCanBeWrapped) {
    std::unique_ptr<platform::SerialDevice> device;
    ASSERT_EQ(platform::serial_open(pty.slave_path(), device), 0);
    ql::Port* port = ql::port_from_device(std::move(device));
    ASSERT_NE(port, nullptr);
    EXPECT_EQ(ql::port_timeouts(port).total_constant, 5000u);
    unsigned lines = 99;
    EXPECT_EQ(ql::port_device(port)->modem_status(&lines), 0);  // a pty: none, no error
    EXPECT_EQ(lines, 0u);
    pty.write("ok");
    char buffer[9];
    EXPECT_EQ(ql::port_read(port, buffer, 8, 2000, ql::kNoBlockHint), 2);
    ql::port_close(port);
}

}  // namespace
