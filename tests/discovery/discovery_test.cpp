// Port and cradle discovery against fake device trees.
#include "serial/discovery.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "foundation/log.h"
#include "foundation/server_state.h"
#include "foundation/settings.h"
#include "pty_pair.h"
#include "recording_view.h"
#include "temp_dir.h"

namespace fs = std::filesystem;
using testing_support::RecordingView;
using testing_support::TempDir;

namespace {

// Builds a device tree the way the kernel lays it out: devices below
// devices/, drivers below bus/, and class/tty entries whose "device" link
// points into devices/.
class FakeTree {
  public:
    explicit FakeTree(const std::string& root) : root_(root) {}

    // A legacy port with hardware behind it (ttyS<n>).
    void add_pnp_port(const std::string& tty, const std::string& node) {
        fs::path dev = device_dir("pnp0/" + node, "pnp", "serial");
        link_tty(tty, dev);
    }

    // A legacy port name without hardware: bound to the platform placeholder
    // (older kernels).
    void add_placeholder(const std::string& tty) {
        fs::path dev = device_dir("platform/serial8250", "platform", "serial8250");
        link_tty(tty, dev);
    }

    // The same on newer kernels: a port device of its own whose UART type
    // reads 0 (unknown).
    void add_unknown_uart(const std::string& tty, const std::string& node) {
        fs::path dev = device_dir("platform/serial8250/" + node, "serial-base", "port");
        link_tty(tty, dev);
        write(root_ / "class/tty" / tty / "type", "0\n");
    }

    // A terminal without a device (virtual console).
    void add_virtual(const std::string& tty) { fs::create_directories(root_ / "class/tty" / tty); }

    // A USB serial adapter: the USB device with its strings, one interface,
    // and the tty below it bound to driver.
    void add_usb(const std::string& tty, const std::string& usb, const std::string& driver,
                 const std::string& vendor, const std::string& product, int iface = 0) {
        fs::path dev = root_ / "devices/pci0/usb1" / usb;
        fs::create_directories(dev);
        write(dev / "idVendor", "10c4\n");
        write(dev / "idProduct", "ea60\n");
        if (!vendor.empty()) write(dev / "manufacturer", vendor + "\n");
        if (!product.empty()) write(dev / "product", product + "\n");
        fs::path intf = dev / (usb + ":1." + std::to_string(iface));
        fs::create_directories(intf);
        bind(intf, "usb", driver);
        fs::path tdev = intf / tty;
        fs::create_directories(tdev);
        bind(tdev, "usb-serial", driver);
        link_tty(tty, tdev);
    }

  private:
    fs::path device_dir(const std::string& rel, const std::string& bus, const std::string& drv) {
        fs::path dev = root_ / "devices" / rel;
        if (!fs::exists(dev)) {
            fs::create_directories(dev);
            bind(dev, bus, drv);
        }
        return dev;
    }
    void bind(const fs::path& dev, const std::string& bus, const std::string& drv) {
        fs::path driver = root_ / "bus" / bus / "drivers" / drv;
        fs::create_directories(driver);
        fs::create_directory_symlink(driver, dev / "driver");
        fs::create_directory_symlink(root_ / "bus" / bus, dev / "subsystem");
    }
    void link_tty(const std::string& tty, const fs::path& dev) {
        fs::create_directories(root_ / "class/tty" / tty);
        fs::create_directory_symlink(dev, root_ / "class/tty" / tty / "device");
    }
    static void write(const fs::path& file, const std::string& text) {
        std::ofstream(file) << text;
    }

    fs::path root_;
};

// Records what find_ports shows in the port search dialog.
class RecordingDialog final : public ql::SearchDialog {
  public:
    void show_text(int item, const std::string& text) override {
        std::lock_guard<std::mutex> lock(mutex);
        shown.emplace_back(item, text);
    }
    void post_command(int command) override {
        std::lock_guard<std::mutex> lock(mutex);
        commands.push_back(command);
    }
    std::vector<std::string> texts(int item) {
        std::lock_guard<std::mutex> lock(mutex);
        std::vector<std::string> out;
        for (auto& [i, t] : shown)
            if (i == item) out.push_back(t);
        return out;
    }
    std::mutex mutex;
    std::vector<std::pair<int, std::string>> shown;
    std::vector<int> commands;
};

class DiscoveryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ql::discovery_reset();
        ql::settings_reset_defaults();
        ql::server_state_reset();
        ql::log_reset();
        ql::server_paths_set(dir.path(), "quaylink.ini");
        ql::set_device_tree(dir.path() + "/sys");
        fs::create_directories(dir.path() + "/sys/class/tty");
    }
    void TearDown() override { ql::discovery_reset(); }

    void map_ports(const std::string& lines) { dir.write("quaylink.ini", "[ports]\r\n" + lines); }

    // A probe that answers only on the given port and records every call.
    void probe_answers_on(int port) {
        ql::set_cradle_probe([this, port](int p, int baud, int kind) {
            probes.push_back({p, baud, kind});
            return p == port;
        });
    }

    TempDir dir;
    FakeTree tree{dir.path() + "/sys"};
    std::vector<std::array<int, 3>> probes;
};

TEST_F(DiscoveryTest, WholeWordMatchDoesNotConfuseNeighbouringNumbers) {
    EXPECT_TRUE(ql::contains_word("Bridge (COM12)", "COM12"));
    EXPECT_FALSE(ql::contains_word("Bridge (COM12)", "COM1"));
    EXPECT_TRUE(ql::contains_word("COM1", "COM1"));
    EXPECT_TRUE(ql::contains_word("x (COM12, COM1)", "COM1"));
    EXPECT_FALSE(ql::contains_word("XCOM1", "COM1"));
    EXPECT_FALSE(ql::contains_word("anything", ""));
}

TEST_F(DiscoveryTest, WithoutUsbBridgeTheTableHoldsTheRegisteredPortsAndPortOneIsChosen) {
    tree.add_pnp_port("ttyS0", "00:01");
    tree.add_pnp_port("ttyS1", "00:02");
    tree.add_placeholder("ttyS3");
    tree.add_unknown_uart("ttyS4", "serial8250:0.4");
    tree.add_virtual("tty1");
    EXPECT_EQ(ql::find_ports(nullptr), 1);
    EXPECT_EQ(ql::port_table_entry(1), "COM1");
    EXPECT_EQ(ql::port_table_entry(2), "COM2");
    EXPECT_EQ(ql::port_table_entry(4), "");  // placeholders without hardware
    EXPECT_EQ(ql::port_table_entry(5), "");
    EXPECT_EQ(ql::port_table_entry(0), "");
    EXPECT_EQ(ql::port_table_count(), 2);
    EXPECT_EQ(ql::port_table_device(2), "/dev/ttyS1");
}

TEST_F(DiscoveryTest, EmptyOrMissingTreeGivesAnEmptyTableAndPortOne) {
    ql::set_device_tree(dir.path() + "/nothing-here");
    EXPECT_EQ(ql::find_ports(nullptr), 1);
    EXPECT_EQ(ql::port_table_count(), 0);
    for (const auto& e : ql::port_table()) EXPECT_EQ(e, "");
}

TEST_F(DiscoveryTest, BridgeOnMappedPortFiveIsNamedAndChosen) {
    map_ports("com5=/dev/ttyUSB0\r\n");
    tree.add_pnp_port("ttyS0", "00:01");
    tree.add_usb("ttyUSB0", "1-1", "cp210x", "Silicon Labs",
                 "CP2102 USB to UART Bridge Controller");
    EXPECT_EQ(ql::find_ports(nullptr), 5);
    EXPECT_EQ(ql::port_table_entry(5), "COM5 (Silicon Labs CP2102 USB t");
    EXPECT_EQ(ql::port_table_entry(5).size(), 31u);
    EXPECT_EQ(ql::port_table_entry(1), "COM1");
    EXPECT_EQ(ql::port_table_device(5), "/dev/ttyUSB0");
    EXPECT_EQ(ql::port_table_count(), 2);
}

TEST_F(DiscoveryTest, ProductStringNamingTheBridgeIsRecognisedWithAnotherDriver) {
    tree.add_usb("ttyUSB0", "1-2", "usbserial_generic", "", "CP210x UART");
    EXPECT_EQ(ql::find_ports(nullptr), 1);
    EXPECT_EQ(ql::port_table_entry(1), "COM1 (CP210x UART)");
}

TEST_F(DiscoveryTest, UnmappedUsbPortsTakeTheFirstFreeNumbers) {
    tree.add_pnp_port("ttyS0", "00:01");
    tree.add_usb("ttyACM0", "1-3", "cdc_acm", "Acme", "Modem");
    tree.add_usb("ttyUSB0", "1-4", "cp210x", "Silicon Labs", "CP2104");
    // ttyACM0 sorts first, so it takes number 2; the bridge gets 3.
    EXPECT_EQ(ql::find_ports(nullptr), 3);
    EXPECT_EQ(ql::port_table_entry(2), "COM2");
    EXPECT_EQ(ql::port_table_device(2), "/dev/ttyACM0");
    EXPECT_EQ(ql::port_table_entry(3), "COM3 (Silicon Labs CP2104)");
    EXPECT_EQ(ql::port_table_assigned_device(3), "/dev/ttyUSB0");
    EXPECT_EQ(ql::port_table_assigned_device(1), "");  // ttyS0 is COM1 by the map
}

TEST_F(DiscoveryTest, PortOneIsNotTakenForABridgeOnPortTwelve) {
    tree.add_pnp_port("ttyS0", "00:01");
    map_ports("com12=/dev/ttyUSB0\r\n");
    tree.add_usb("ttyUSB0", "1-1", "cp210x", "SiLabs", "CP2102");
    EXPECT_EQ(ql::find_ports(nullptr), 12);
    EXPECT_EQ(ql::port_table_entry(1), "COM1");
    EXPECT_EQ(ql::port_table_entry(12), "COM12 (SiLabs CP2102)");
}

TEST_F(DiscoveryTest, TwoBridgesWithoutCradleSearchChooseTheLowerPort) {
    map_ports("com7=/dev/ttyUSB0\r\ncom4=/dev/ttyUSB1\r\n");
    tree.add_usb("ttyUSB0", "1-1", "cp210x", "SiLabs", "CP2102");
    tree.add_usb("ttyUSB1", "1-2", "cp210x", "SiLabs", "CP2104");
    probe_answers_on(7);
    RecordingDialog dialog;
    EXPECT_EQ(ql::find_ports(&dialog), 4);
    EXPECT_TRUE(probes.empty());  // no cradle search requested
    EXPECT_EQ(ql::port_table_entry(4), "COM4 (SiLabs CP2104)");
    EXPECT_EQ(ql::port_table_entry(7), "COM7 (SiLabs CP2102)");
    EXPECT_EQ(dialog.texts(ql::search_item::kDevice),
              std::vector<std::string>{"SiLabs CP2104 (COM4)"});
}

TEST_F(DiscoveryTest, CradleSearchProbesEachBridgeUntilACradleAnswers) {
    map_ports("com7=/dev/ttyUSB0\r\ncom4=/dev/ttyUSB1\r\n");
    tree.add_usb("ttyUSB0", "1-1", "cp210x", "SiLabs", "CP2102");
    tree.add_usb("ttyUSB1", "1-2", "cp210x", "SiLabs", "CP2104");
    ql::settings().baudrate = 38400;
    ql::set_cradle_search_request(true);
    probe_answers_on(7);
    RecordingDialog dialog;
    EXPECT_EQ(ql::find_ports(&dialog), 7);
    ASSERT_EQ(probes.size(), 2u);
    EXPECT_EQ(probes[0], (std::array<int, 3>{4, 38400, ql::kConnectIrda}));
    EXPECT_EQ(probes[1][0], 7);
    EXPECT_EQ(dialog.texts(ql::search_item::kCradle),
              (std::vector<std::string>{"Searching for Cradle", "Cradle Not Found",
                                        "Searching for Cradle", "Cradle Found"}));
}

TEST_F(DiscoveryTest, SilentCradleLeavesTheFirstBridgePortChosen) {
    map_ports("com7=/dev/ttyUSB0\r\ncom4=/dev/ttyUSB1\r\n");
    tree.add_usb("ttyUSB0", "1-1", "cp210x", "SiLabs", "CP2102");
    tree.add_usb("ttyUSB1", "1-2", "cp210x", "SiLabs", "CP2104");
    ql::set_cradle_search_request(true);
    probe_answers_on(0);
    RecordingDialog dialog;
    EXPECT_EQ(ql::find_ports(&dialog), 4);
    EXPECT_EQ(probes.size(), 2u);
    EXPECT_EQ(dialog.texts(ql::search_item::kCradle).back(), "Cradle Not Found");
}

TEST_F(DiscoveryTest, NoProbeOnOtherConnectKindsOrWithoutDialog) {
    map_ports("com5=/dev/ttyUSB0\r\n");
    tree.add_usb("ttyUSB0", "1-1", "cp210x", "SiLabs", "CP2102");
    ql::set_cradle_search_request(true);
    probe_answers_on(5);
    EXPECT_EQ(ql::find_ports(nullptr), 5);
    ql::settings().connect_kind = ql::kConnectUsb;
    RecordingDialog dialog;
    EXPECT_EQ(ql::find_ports(&dialog), 5);
    EXPECT_TRUE(probes.empty());
    EXPECT_TRUE(dialog.texts(ql::search_item::kCradle).empty());
}

TEST_F(DiscoveryTest, SearchThreadStoresThePortAndReportsItsEnd) {
    RecordingView view;
    map_ports("com5=/dev/ttyUSB0\r\n");
    tree.add_usb("ttyUSB0", "1-1", "cp210x", "SiLabs", "CP2102");
    ql::settings().commport = 2;
    ql::server_state().worker_running = true;
    RecordingDialog dialog;
    std::thread worker(ql::cradle_search_thread, &dialog);
    worker.join();
    EXPECT_EQ(ql::settings().commport, 5);
    EXPECT_EQ(dialog.commands, std::vector<int>{ql::kSearchEndedCommand});
    EXPECT_FALSE(ql::server_state().worker_running);
    EXPECT_TRUE(view.has_line("Setup Init thread Ending"));
}

// A cradle on a pseudo-terminal that echoes the 0x0F probe byte at any
// rate. The bridge has no entry in the port map: the probe must still reach
// the device found, and the port setting must be left as it was.
TEST_F(DiscoveryTest, RealProbeReachesAnUnmappedBridgeThroughTheHandshake) {
    testing_support::PtyPair pty;
    ASSERT_TRUE(pty.ok());
    fs::create_directories(dir.path() + "/dev");
    fs::create_symlink(pty.slave_path(), dir.path() + "/dev/ttyUSB0");
    ql::set_device_tree(dir.path() + "/sys", dir.path() + "/dev");
    tree.add_usb("ttyUSB0", "1-1", "cp210x", "SiLabs", "CP2102");
    std::atomic<bool> stop{false};
    std::thread cradle([&] {
        while (!stop) {
            std::string got = pty.read(16, 50);
            if (got.find('\x0f') != std::string::npos) pty.write(std::string("\x0f"));
        }
    });
    ql::settings().commport = 9;
    ql::set_cradle_search_request(true);
    RecordingDialog dialog;
    int port = ql::find_ports(&dialog);
    stop = true;
    cradle.join();
    EXPECT_EQ(port, 1);
    EXPECT_EQ(ql::port_table_device(1), dir.path() + "/dev/ttyUSB0");
    EXPECT_EQ(dialog.texts(ql::search_item::kCradle).back(), "Cradle Found");
    EXPECT_EQ(ql::settings().commport, 9);
    EXPECT_EQ(ql::settings().commport_device, "");
}

TEST_F(DiscoveryTest, NumbersReservedByThePortMapAreNotGivenAway) {
    map_ports("com1=/dev/ttyUSB7\r\n");
    tree.add_usb("ttyUSB0", "1-1", "ftdi_sio", "FTDI", "FT232R");
    EXPECT_EQ(ql::find_ports(nullptr), 1);  // no bridge: the default
    EXPECT_EQ(ql::port_table_entry(1), "");
    EXPECT_EQ(ql::port_table_entry(2), "COM2");  // not the bridge: plain name
}

}  // namespace
