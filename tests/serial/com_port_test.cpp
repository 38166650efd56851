// The Windows serial device on two COM ports joined like a null-modem
// cable. The test launcher makes the pair and names it in QL_COM_PAIR
// ("COM5 COM6"); without it the tests skip.
#include <windows.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "platform/event.h"
#include "platform/files.h"
#include "platform/serial.h"

using platform::SerialConfig;
using platform::SerialDevice;

namespace {

uint64_t now_ms() {
    using namespace std::chrono;
    return static_cast<uint64_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

bool under_wine() {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// Reads until want bytes are in or deadline_ms has passed.
std::string read_for(SerialDevice& device, size_t want, int deadline_ms) {
    std::string got;
    const uint64_t end = now_ms() + static_cast<uint64_t>(deadline_ms);
    char buffer[4096];
    while (got.size() < want && now_ms() < end) {
        size_t room = want - got.size() < sizeof buffer ? want - got.size() : sizeof buffer;
        int n = device.read(buffer, room, 200);
        if (n < 0) break;
        got.append(buffer, static_cast<size_t>(n));
    }
    return got;
}

class ComPortTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* pair = std::getenv("QL_COM_PAIR");
        if (pair == nullptr)
            GTEST_SKIP() << "QL_COM_PAIR is not set (no COM link from the launcher)";
        std::istringstream names(pair);
        names >> a_name_ >> b_name_;
        ASSERT_FALSE(b_name_.empty()) << "QL_COM_PAIR needs two names: " << pair;
        ASSERT_EQ(platform::serial_open("\\\\.\\" + a_name_, a_), 0) << a_name_;
        ASSERT_EQ(platform::serial_open(b_name_, b_), 0) << b_name_;  // the short form too
        SerialConfig config;
        ASSERT_EQ(a_->configure(config), 0);
        ASSERT_EQ(b_->configure(config), 0);
        drain_input(*a_);
        drain_input(*b_);
    }

    // Left-overs of an earlier test on the same link.
    static void drain_input(SerialDevice& device) {
        char buffer[256];
        while (device.read(buffer, sizeof buffer, 50) > 0) {
        }
    }

    std::string a_name_, b_name_;
    std::unique_ptr<SerialDevice> a_, b_;
};

}  // namespace

TEST_F(ComPortTest, BytesGoBothWaysAndLongWritesArriveWhole) {
    ASSERT_EQ(a_->write("hello", 5), 5);
    EXPECT_EQ(read_for(*b_, 5, 5000), "hello");
    ASSERT_EQ(b_->write("\x01\x00\xff\r\n", 5), 5);  // raw: no byte changed or dropped
    EXPECT_EQ(read_for(*a_, 5, 5000), std::string("\x01\x00\xff\r\n", 5));

    // More than the driver's queues hold: the write goes out in pieces while
    // the other side reads.
    std::string block(20000, '\0');
    for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 7 + i / 251);
    std::string received;
    std::thread reader([&] { received = read_for(*b_, block.size(), 30000); });
    EXPECT_EQ(a_->write(block.data(), block.size()), static_cast<int>(block.size()));
    EXPECT_EQ(a_->drain(), 0);
    reader.join();
    EXPECT_EQ(received.size(), block.size());
    EXPECT_TRUE(received == block);
    EXPECT_FALSE(a_->lost());
    EXPECT_FALSE(b_->lost());
}

TEST_F(ComPortTest, ReadWaitsItsTimeOutOnASilentLineAndReturnsEarlyForData) {
    char buffer[16];
    uint64_t start = now_ms();
    EXPECT_EQ(a_->read(buffer, sizeof buffer, 400), 0);
    uint64_t spent = now_ms() - start;
    EXPECT_GE(spent, 300u);
    EXPECT_LT(spent, 5000u);

    // A byte that comes during a long wait ends it, and what follows in
    // the same burst comes with it or with the next read.
    std::thread writer([&] {
        Sleep(200);
        b_->write("xyz", 3);
    });
    start = now_ms();
    int n = a_->read(buffer, sizeof buffer, 20000);
    spent = now_ms() - start;
    writer.join();
    ASSERT_GT(n, 0);
    EXPECT_LT(spent, 10000u);
    std::string got(buffer, static_cast<size_t>(n));
    got += read_for(*a_, 3 - got.size(), 5000);
    EXPECT_EQ(got, "xyz");

    EXPECT_EQ(a_->read(buffer, 0, 1000), 0);  // nothing asked, nothing waited for
}

TEST_F(ComPortTest, ReadUnlessEndsOnTheEventAndLosesNoByte) {
    platform::Event wake;
    char buffer[64];
    wake.set();
    EXPECT_EQ(a_->read_unless(buffer, sizeof buffer, 10000, wake), 0);  // already set
    wake.reset();

    std::thread waker([&] {
        Sleep(200);
        wake.set();
    });
    uint64_t start = now_ms();
    EXPECT_EQ(a_->read_unless(buffer, sizeof buffer, 20000, wake), 0);
    EXPECT_LT(now_ms() - start, 10000u);
    waker.join();
    wake.reset();

    // Bytes that arrive while reads are being cancelled: every one of them
    // must turn up in a later read, in order.
    std::string sent, received;
    for (int round = 0; round < 150; ++round) {
        char byte = static_cast<char>('A' + round % 26);
        sent += byte;
        std::thread racer([&] {
            b_->write(&byte, 1);
            wake.set();
        });
        int n = a_->read_unless(buffer, sizeof buffer, 5000, wake);
        racer.join();
        if (n > 0) received.append(buffer, static_cast<size_t>(n));
        wake.reset();
    }
    received += read_for(*a_, sent.size() - received.size(), 5000);
    EXPECT_EQ(received, sent);
}

TEST_F(ComPortTest, SettingsReadBackAsConfigured) {
    SerialConfig wanted;
    wanted.baud = 19200;
    wanted.data_bits = 7;
    wanted.parity = true;
    wanted.stop_bits = 2;
    wanted.dtr = true;
    wanted.rts = false;
    ASSERT_EQ(a_->configure(wanted), 0);
    SerialConfig got;
    got.baud = 0;
    ASSERT_EQ(a_->read_config(&got), 0);
    EXPECT_EQ(got.baud, 19200);
    EXPECT_EQ(got.stop_bits, 2);
    EXPECT_FALSE(got.cts_flow);
    EXPECT_FALSE(got.dsr_flow);
    EXPECT_TRUE(got.dtr);
    // A pseudo-terminal keeps 8 bits without parity whatever it is told,
    // and wine reports RTS from the terminal's flags, not from the request.
    if (!under_wine()) {
        EXPECT_EQ(got.data_bits, 7);
        EXPECT_TRUE(got.parity);
        EXPECT_FALSE(got.rts);
    }

    ASSERT_EQ(a_->configure(SerialConfig{}), 0);
    ASSERT_EQ(a_->read_config(&got), 0);
    EXPECT_EQ(got.baud, 9600);
    EXPECT_EQ(got.data_bits, 8);
    EXPECT_FALSE(got.parity);
    EXPECT_EQ(got.stop_bits, 1);
    EXPECT_TRUE(got.dtr);
    EXPECT_TRUE(got.rts);
}

TEST_F(ComPortTest, RateBelowOneIsRefused) {
    SerialConfig config;
    config.baud = 0;
    EXPECT_EQ(a_->configure(config), -1);
    EXPECT_EQ(platform::last_error(), EINVAL);
    config.baud = 9600;
    EXPECT_EQ(a_->configure(config), 0);
}

TEST_F(ComPortTest, LinkWithoutModemLinesReportsNoneAndSucceeds) {
    if (!under_wine()) GTEST_SKIP() << "a real port may have its modem lines wired";
    unsigned lines = 0xFF;
    EXPECT_EQ(a_->modem_status(&lines), 0);
    EXPECT_EQ(lines, 0u);
    SerialConfig config;
    config.dtr = false;  // dropping the lines is accepted too
    config.rts = false;
    EXPECT_EQ(a_->configure(config), 0);
}

TEST_F(ComPortTest, PortIsNotSharedAndMissingPortsAreNamed) {
    std::unique_ptr<SerialDevice> missing;
    EXPECT_EQ(platform::serial_open("COM199", missing), ENOENT);
    EXPECT_EQ(missing, nullptr);

    if (under_wine()) GTEST_SKIP() << "wine does not enforce sharing mode 0 on COM ports";
    std::unique_ptr<SerialDevice> second;
    EXPECT_EQ(platform::serial_open(a_name_, second), EBUSY);
    EXPECT_EQ(second, nullptr);
}

// The cable under a port is pulled while it is open: the launcher names the
// port and the request file in QL_COM_PULL ("COM7 Z:/.../pull-com7"), ends
// the link when the file appears and removes the file when it is done.
TEST(ComPortPulled, ReadsAndWritesFailAtOnceAndTheReopenedPortWorks) {
    const char* pull = std::getenv("QL_COM_PULL");
    if (pull == nullptr) GTEST_SKIP() << "QL_COM_PULL is not set (no pullable link)";
    std::istringstream fields(pull);
    std::string name, request;
    fields >> name >> request;
    ASSERT_FALSE(request.empty()) << "QL_COM_PULL needs a port and a file: " << pull;

    std::unique_ptr<SerialDevice> port;
    ASSERT_EQ(platform::serial_open(name, port), 0) << name;
    ASSERT_EQ(port->configure(SerialConfig{}), 0);
    char buffer[16];
    EXPECT_EQ(port->read(buffer, sizeof buffer, 100), 0);  // a quiet line
    EXPECT_FALSE(port->lost());

    { std::ofstream(request) << "pull\n"; }
    for (int waited = 0; waited < 20000 && std::filesystem::exists(request); waited += 50)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_FALSE(std::filesystem::exists(request)) << "the launcher did not pull the cable";

    // The first reads on the dead line find it gone; from then on every
    // read fails at once instead of waiting out its time-out.
    for (int i = 0; i < 20 && !port->lost(); ++i) port->read(buffer, sizeof buffer, 100);
    EXPECT_TRUE(port->lost());
    const uint64_t start = now_ms();
    EXPECT_EQ(port->read(buffer, sizeof buffer, 60000), -1);
    platform::Event wake;
    EXPECT_EQ(port->read_unless(buffer, sizeof buffer, 60000, wake), -1);
    EXPECT_LT(now_ms() - start, 30000u) << "a read on a lost line waited";
    EXPECT_EQ(port->write("x", 1), -1);
    EXPECT_TRUE(port->lost());  // never cleared

    // A new handle on the port, now over the fresh link, is a working line.
    port.reset();
    ASSERT_EQ(platform::serial_open(name, port), 0) << name;
    ASSERT_EQ(port->configure(SerialConfig{}), 0);
    EXPECT_EQ(port->read(buffer, sizeof buffer, 100), 0);
    EXPECT_FALSE(port->lost());
}
