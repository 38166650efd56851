// The settings dialog "Connect": what it shows and what OK writes.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QTest>
#include <filesystem>
#include <fstream>

#include "foundation/log.h"
#include "foundation/server_state.h"
#include "foundation/settings.h"
#include "serial/discovery.h"
#include "window/dialogs.h"
#include "window_fixture.h"

namespace {

using namespace window_testing;

class ConnectDialogTest : public WindowTest {
  protected:
    // Runs the dialog; inside, `inspect` sees it before OK (or Cancel).
    int run(const std::function<void(QDialog&)>& inspect, const char* button = "ok_1") {
        driver.on("Connect", [&](QDialog& d) {
            if (inspect) inspect(d);
            click(d, button);
        });
        return ql::run_connect_dialog(nullptr);
    }

    static bool checked(QDialog& d, const char* name) {
        return d.findChild<QAbstractButton*>(name)->isChecked();
    }
    static void tick(QDialog& d, const char* name, bool on = true) {
        d.findChild<QAbstractButton*>(name)->setChecked(on);
    }
    static std::string combo(QDialog& d, const char* name) {
        return d.findChild<QComboBox*>(name)->currentText().toStdString();
    }
    static void set_combo(QDialog& d, const char* name, const char* text) {
        d.findChild<QComboBox*>(name)->setEditText(text);
    }

    // The settings of an existing file, loaded as the server loads them.
    void load(const std::string& content) {
        write_settings(content);
        ql::settings_load();
        ql::log_state().debug = 0;
    }

    DialogDriver driver;
};

const char* const kFullFile =
    "[setup]\r\nconnect=direct\r\nbaudrate=19200\r\ncommport=3\r\ninterchardelay=250\r\n"
    "altreadport=no\r\nsmallblock=no\r\n";

TEST_F(ConnectDialogTest, OpeningShowsTheCurrentSettings) {
    load(kFullFile);
    ql::settings().workdir = "/data/";
    ql::log_state().verbosity = 2;
    run([](QDialog& d) {
        EXPECT_EQ(d.windowTitle().toStdString(), "Connect");
        EXPECT_TRUE(checked(d, "direct_420"));
        EXPECT_TRUE(checked(d, "baud19200_401"));
        EXPECT_EQ(combo(d, "comPort_351"), "COM3");
        EXPECT_EQ(d.findChild<QComboBox*>("comPort_351")->count(), 16);
        EXPECT_EQ(combo(d, "interCharDelay_352"), "250");
        auto* delays = d.findChild<QComboBox*>("interCharDelay_352");
        ASSERT_EQ(delays->count(), 8);
        EXPECT_EQ(delays->itemText(0).toStdString(), "75");
        EXPECT_EQ(delays->itemText(7).toStdString(), "1000");
        EXPECT_TRUE(checked(d, "debug_441"));
        EXPECT_FALSE(checked(d, "logFile_442"));
        EXPECT_EQ(d.findChild<QLabel*>("workingDir_206")->text().toStdString(),
                  "Working Dir: /data/");
    });
}

TEST_F(ConnectDialogTest, ConnectRadioFollowsModemFirstThenKind) {
    ql::settings().modem = true;
    ql::settings().connect_kind = ql::kConnectUsb;
    run([](QDialog& d) { EXPECT_TRUE(checked(d, "modem_422")); }, "cancel_2");
    ql::settings().modem = false;
    run([](QDialog& d) { EXPECT_TRUE(checked(d, "usbVcom_423")); }, "cancel_2");
    ql::settings().connect_kind = ql::kConnectIrda;
    run([](QDialog& d) { EXPECT_TRUE(checked(d, "cradle_421")); }, "cancel_2");
}

TEST_F(ConnectDialogTest, OkOnANewFileWritesTheSixKeys) {
    EXPECT_EQ(run(nullptr), 1);
    const std::string file = settings_text();
    EXPECT_EQ(file,
              "[setup]\r\nconnect=irda\r\nbaudrate=57600\r\ncommport=1\r\ninterchardelay=125\r\n"
              "altreadport=no\r\nsmallblock=no\r\n");
}

TEST_F(ConnectDialogTest, OkOnANewFileWritesTheLogFileOnlyWhenItsBoxChanged) {
    run([](QDialog& d) { tick(d, "logFile_442"); });
    EXPECT_NE(settings_text().find("logfile=APPEND"), std::string::npos);
    EXPECT_EQ(ql::log_state().mode, 1);
    // Turned on in a session that had no log file: the path follows the rule.
    EXPECT_EQ(ql::log_path(), dir.native("quaylink.log"));
}

TEST_F(ConnectDialogTest, OkWithoutChangeWritesNothing) {
    load(kFullFile);
    const auto before = std::filesystem::last_write_time(dir.path() + "/quaylink.ini");
    EXPECT_EQ(run(nullptr), 1);
    EXPECT_EQ(settings_text(), kFullFile);
    EXPECT_EQ(std::filesystem::last_write_time(dir.path() + "/quaylink.ini"), before);

    // While communication runs, nothing written means 0.
    ql::server_state().worker_running = true;
    EXPECT_EQ(run(nullptr), 0);
    ql::server_state().worker_running = false;
}

TEST_F(ConnectDialogTest, ChangedKeysAreWrittenAndTheRestKept) {
    load(kFullFile);
    int result = run([](QDialog& d) {
        tick(d, "modem_422");
        tick(d, "baud115200_405");
        set_combo(d, "interCharDelay_352", "500");
        tick(d, "altPortRead_443");
        tick(d, "debug_441");
    });
    EXPECT_EQ(result, 1);
    EXPECT_EQ(settings_text(),
              "[setup]\r\nconnect=modem\r\nbaudrate=115200\r\ncommport=3\r\ninterchardelay=500\r\n"
              "altreadport=yes\r\nsmallblock=no\r\n");
    EXPECT_TRUE(ql::settings().modem);
    EXPECT_EQ(ql::settings().connect_kind, ql::kConnectDirect);
    EXPECT_EQ(ql::settings().interchardelay, 500);
    EXPECT_EQ(ql::log_state().verbosity, 2);

    ql::server_state().worker_running = true;  // a counted write makes it 1
    EXPECT_EQ(run([](QDialog& d) { tick(d, "smallBlock_444"); }), 1);
    EXPECT_NE(settings_text().find("smallblock=yes"), std::string::npos);
    ql::server_state().worker_running = false;
}

TEST_F(ConnectDialogTest, BridgeEntryTextSetsItsPortNumber) {
    load(kFullFile);
    run([](QDialog& d) {
        // The entry as the port search lists it for a bridge on COM7.
        d.findChild<QComboBox*>("comPort_351")->setItemText(6, "COM7 (Silicon Labs CP2102 USB t");
        set_combo(d, "comPort_351", "COM7 (Silicon Labs CP2102 USB t");
    });
    EXPECT_EQ(ql::settings().commport, 7);
    EXPECT_NE(settings_text().find("commport=7\r\n"), std::string::npos);
}

TEST_F(ConnectDialogTest, UnlistedBaudRateShowsAndBecomes9600) {
    load("[setup]\r\ncommport=2\r\nbaudrate=14400\r\n");
    run([](QDialog& d) { EXPECT_TRUE(checked(d, "baud9600_400")); });
    EXPECT_EQ(ql::settings().baudrate, 9600);
    EXPECT_NE(settings_text().find("baudrate=9600"), std::string::npos);

    load("[setup]\r\ncommport=2\r\nbaudrate=9600\r\n");
    run([](QDialog& d) { EXPECT_TRUE(checked(d, "baud9600_400")); }, "cancel_2");
}

TEST_F(ConnectDialogTest, CancelChangesNothing) {
    load(kFullFile);
    int result = run(
        [](QDialog& d) {
            tick(d, "usbVcom_423");
            tick(d, "activateLoad_445");
        },
        "cancel_2");
    EXPECT_EQ(result, 0);
    EXPECT_EQ(ql::settings().connect_kind, ql::kConnectDirect);
    EXPECT_FALSE(ql::server_state().activate_load);
    EXPECT_EQ(settings_text(), kFullFile);
}

TEST_F(ConnectDialogTest, UsbPortNumberedByTheSearchIsStoredAsItsDevice) {
    if (!device_tree_can_be_faked()) GTEST_SKIP() << kNoFakeDeviceTree;
    namespace fs = std::filesystem;
    fs::path usb = fs::path(dir.path()) / "sys/devices/usb1/1-2";
    fs::create_directories(usb / "1-2:1.0/ttyACM0");
    std::ofstream(usb / "idVendor") << "2341\n";
    std::ofstream(usb / "product") << "Serial Adapter\n";
    fs::create_directories(fs::path(dir.path()) / "sys/class/tty/ttyACM0");
    fs::create_directory_symlink(usb / "1-2:1.0/ttyACM0",
                                 fs::path(dir.path()) / "sys/class/tty/ttyACM0/device");
    load(kFullFile);
    ql::find_ports(nullptr);
    ASSERT_EQ(ql::port_table_entry(1), "COM1");
    run([](QDialog& d) {
        EXPECT_EQ(d.findChild<QComboBox*>("comPort_351")->itemText(0).toStdString(), "COM1");
        set_combo(d, "comPort_351", "COM1");
    });
    const std::string device = dir.path() + "/dev/ttyACM0";
    EXPECT_NE(settings_text().find("commport=" + device + "\r\n"), std::string::npos);
    EXPECT_EQ(ql::settings().commport_device, device);

    // Reloaded, the dialog shows the device's entry again, and OK keeps it.
    ql::settings_load();
    ql::find_ports(nullptr);
    run([](QDialog& d) { EXPECT_EQ(combo(d, "comPort_351"), "COM1"); });
    EXPECT_EQ(ql::settings().commport_device, device);
}

// Bad values are refused with a message naming the box; the dialog stays
// open with the focus back in the box, and nothing is applied or written.
// Return in either box accepts the dialog the way OK does, and is checked
// the same way (it used to add the text to the list, which then passed).
TEST_F(ConnectDialogTest, BadPortOrDelayIsRefusedAndTheDialogStaysOpen) {
    load(kFullFile);
    const std::string before = settings_text();
    struct Case {
        const char* port;
        const char* delay;
        const char* box;  // the box named and focused
    };
    const Case cases[] = {
        {"COM3", "abc", "InterCharDelay"},   {"COM3", "0", "InterCharDelay"},
        {"COM3", "-5", "InterCharDelay"},    {"COM3", "", "InterCharDelay"},
        {"COM7 (Cradle)", "125", "ComPort"}, {"Cradle", "125", "ComPort"},
        {"abc", "125", "ComPort"},           {"", "125", "ComPort"},
        {"COM0", "125", "ComPort"},          {"-5", "125", "ComPort"},
    };
    // How the operator accepts: OK, or Return in one of the two boxes.
    const char* const ways[] = {"ok_1", "comPort_351", "interCharDelay_352"};
    for (const Case& c : cases) {
        for (const char* way : ways) {
            driver.seen.clear();
            bool stayed_open = false;
            std::string focused;
            int result = run(
                [&](QDialog& d) {
                    set_combo(d, "comPort_351", c.port);
                    set_combo(d, "interCharDelay_352", c.delay);
                    if (std::string(way) == "ok_1") {
                        click(d, way);
                    } else {
                        QLineEdit* edit = d.findChild<QComboBox*>(way)->lineEdit();
                        edit->setFocus();
                        QTest::keyClick(edit, Qt::Key_Return);
                    }
                    stayed_open = d.isVisible() && d.result() == 0;
                    QWidget* focus = d.focusWidget();
                    for (QWidget* w = focus; w != nullptr; w = w->parentWidget()) {
                        if (w->objectName() == "comPort_351") focused = "ComPort";
                        if (w->objectName() == "interCharDelay_352") focused = "InterCharDelay";
                    }
                },
                "cancel_2");
            const std::string what = std::string(c.port) + " / " + c.delay + " by " + way;
            EXPECT_EQ(result, 0) << what;
            EXPECT_TRUE(stayed_open) << what;
            EXPECT_EQ(focused, c.box) << what;
            EXPECT_NE(driver.last_box_text().find(c.box), std::string::npos) << what;
            EXPECT_EQ(ql::settings().commport, 3) << what;
            EXPECT_EQ(ql::settings().interchardelay, 250) << what;
            EXPECT_EQ(settings_text(), before) << what;
        }
    }
}

TEST_F(ConnectDialogTest, PortNamesNumbersAndPathsAreTaken) {
    load(kFullFile);
    const std::pair<const char*, int> ports[] = {{"COM7", 7}, {"com12", 12}, {"9", 9}};
    for (const auto& [text, number] : ports) {
        run([&](QDialog& d) {
            set_combo(d, "comPort_351", text);
            set_combo(d, "interCharDelay_352", " 200 ");
        });
        EXPECT_EQ(ql::settings().commport, number) << text;
        EXPECT_EQ(ql::settings().interchardelay, 200);
    }
    run([](QDialog& d) { set_combo(d, "comPort_351", "/dev/ttyUSB1"); });
    EXPECT_EQ(ql::settings().commport_device, "/dev/ttyUSB1");
    // Return in the port box takes a good port like OK does.
    driver.on("Connect", [](QDialog& d) {
        set_combo(d, "comPort_351", "COM5");
        QTest::keyClick(d.findChild<QComboBox*>("comPort_351")->lineEdit(), Qt::Key_Return);
    });
    EXPECT_EQ(ql::run_connect_dialog(nullptr), 1);
    EXPECT_EQ(ql::settings().commport, 5);
}

}  // namespace
