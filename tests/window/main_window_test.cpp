// The main window driven through its widgets: start-up, the first-run
// set-up, START/STOP, EXIT, SETTINGS, LOAD, the -Z timer and the status list.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <filesystem>
#include <fstream>

#include "foundation/log.h"
#include "foundation/server_state.h"
#include "foundation/settings.h"
#include "serial/discovery.h"
#include "window/main_window.h"
#include "window_fixture.h"

namespace {

using namespace window_testing;
using ql::MainWindow;

class MainWindowTest : public WindowTest {
  protected:
    // A window with the fake thread, shown and initialised.
    std::unique_ptr<MainWindow> open_window(bool minimise = false) {
        ql::WindowOptions options;
        options.thread_body = comm.body();
        options.start_loader = [this](const std::string& path) {
            loader_paths.push_back(path);
            return loader_result;
        };
        options.minimise_at_start = minimise;
        options.minimise_delay_ms = 30;
        options.end_delay_ms = 0;
        auto window = std::make_unique<MainWindow>(options);
        window->show();
        window->initialize();
        settle();
        return window;
    }

    void write_usable_settings() { write_settings("[setup]\r\ncommport=1\r\nconnect=direct\r\n"); }

    static std::string text(MainWindow& w, int id) {
        QWidget* widget = w.item(id);
        if (auto* edit = qobject_cast<QLineEdit*>(widget)) return edit->text().toStdString();
        if (auto* label = qobject_cast<QLabel*>(widget)) return label->text().toStdString();
        if (auto* button = qobject_cast<QPushButton*>(widget)) return button->text().toStdString();
        return {};
    }

    static QListWidget* list(MainWindow& w) { return qobject_cast<QListWidget*>(w.item(501)); }

    static bool has_line(MainWindow& w, const std::string& part) {
        for (int i = 0; i < list(w)->count(); ++i) {
            if (list(w)->item(i)->text().toStdString().find(part) != std::string::npos) return true;
        }
        return false;
    }

    // STOP, and wait until the thread has ended and the window shows it.
    void stop(MainWindow& w) {
        ASSERT_TRUE(click(w, "startStop_309"));
        ASSERT_TRUE(wait_until([&] {
            return !ql::server_state().worker_running && text(w, 309) == "START" &&
                   w.item(301)->isEnabled();
        }));
    }

    bool thread_running(MainWindow& w) {
        return comm.running && text(w, 309) == "STOP" && ql::server_state().worker_running;
    }

    FakeCommunication comm;
    DialogDriver driver;
    std::vector<std::string> loader_paths;
    int loader_result = 0;
};

TEST_F(MainWindowTest, StartUpShowsTheVersionAndStartsCommunication) {
    write_usable_settings();
    auto w = open_window();
    EXPECT_EQ(w->windowTitle().toStdString(), "Quaylink V2.28");
    ASSERT_TRUE(wait_until([&] { return thread_running(*w); }));
    EXPECT_EQ(list(*w)->item(0)->text().toStdString(), "Running Quaylink V2.28");
    // One font family for the whole window, the log list included.
    EXPECT_EQ(list(*w)->font().family(), w->font().family());
    EXPECT_FALSE(w->item(301)->isEnabled());
    EXPECT_FALSE(w->item(305)->isEnabled());
    EXPECT_FALSE(driver.saw("CRADLECHECK"));
    EXPECT_EQ(comm.starts, 1);
    EXPECT_GT(w->bar_width_chars(), 0);
}

TEST_F(MainWindowTest, StartStopCyclesKeepTheProgramOpen) {
    write_usable_settings();
    auto w = open_window();
    for (int cycle = 0; cycle < 2; ++cycle) {
        ASSERT_TRUE(wait_until([&] { return thread_running(*w); })) << cycle;
        ASSERT_TRUE(click(*w, "startStop_309"));
        EXPECT_TRUE(wait_until([&] { return has_line(*w, "Stopping Communication.."); }));
        ASSERT_TRUE(
            wait_until([&] { return !ql::server_state().worker_running && !comm.running; }));
        settle();
        EXPECT_EQ(text(*w, 309), "START");
        EXPECT_EQ(text(*w, 208), "OFFLINE");
        EXPECT_EQ(text(*w, 209), "PORT:  COM1");  // the last port tried stays
        EXPECT_TRUE(w->item(301)->isEnabled());
        EXPECT_FALSE(w->item(305)->isEnabled());  // "Activate Load" is off
        EXPECT_FALSE(w->has_ended());
        EXPECT_FALSE(ql::server_state().no_exit);
        ASSERT_TRUE(click(*w, "startStop_309"));
        ASSERT_TRUE(wait_until([&] { return comm.starts == cycle + 2; }));
        EXPECT_TRUE(has_line(*w, "Quaylink Restart"));
        EXPECT_FALSE(has_line(*w, "Running Quaylink"));  // the list was emptied
    }
    EXPECT_EQ(comm.starts, 3);
}

TEST_F(MainWindowTest, EndOfTheConnectionEndsTheProgram) {
    write_usable_settings();
    auto w = open_window();
    ASSERT_TRUE(wait_until([&] { return thread_running(*w); }));
    comm.end_now = true;  // the terminal sent LINESTOP
    EXPECT_TRUE(wait_until([&] { return w->has_ended(); }));
    EXPECT_FALSE(w->isVisible());
}

TEST_F(MainWindowTest, ExitWhileRunningEndsAfterTheThread) {
    write_usable_settings();
    auto w = open_window();
    ASSERT_TRUE(wait_until([&] { return thread_running(*w); }));
    ql::server_state().no_exit = true;  // left over from an earlier STOP
    ASSERT_TRUE(click(*w, "exit_2"));
    EXPECT_EQ(w->windowTitle().toStdString(), "Quaylink Ending[C]..");
    EXPECT_TRUE(ql::server_state().stop_request);
    EXPECT_TRUE(wait_until([&] { return w->has_ended(); }));
    EXPECT_FALSE(comm.running);
}

TEST_F(MainWindowTest, CloseButtonEndsTheProgramRunningOrStopped) {
    write_usable_settings();
    auto w = open_window();
    ASSERT_TRUE(wait_until([&] { return thread_running(*w); }));
    w->close();
    EXPECT_EQ(w->windowTitle().toStdString(), "Quaylink Ending[X]..");
    EXPECT_TRUE(wait_until([&] { return w->has_ended(); }));

    // With communication stopped there is no thread to end it.
    auto stopped = open_window();
    ASSERT_TRUE(wait_until([&] { return thread_running(*stopped); }));
    stop(*stopped);
    stopped->close();
    EXPECT_TRUE(wait_until([&] { return stopped->has_ended(); }));
}

TEST_F(MainWindowTest, FailedOpenKeepsTheProgramOpenAndExitStillEndsIt) {
    write_usable_settings();
    comm.fail_open = true;
    auto w = open_window();
    ASSERT_TRUE(wait_until([&] { return driver.saw("messageBox"); }));
    EXPECT_EQ(driver.last_box_text(), "COMM OPEN FAILED\nPORT=1");
    ASSERT_TRUE(wait_until([&] { return !ql::server_state().worker_running; }));
    settle();
    EXPECT_FALSE(w->has_ended());
    EXPECT_EQ(text(*w, 309), "START");
    click(*w, "exit_2");
    EXPECT_TRUE(wait_until([&] { return w->has_ended(); }));
}

TEST_F(MainWindowTest, SettingsWhileRunningAsksToStopFirst) {
    write_usable_settings();
    auto w = open_window();
    ASSERT_TRUE(wait_until([&] { return thread_running(*w); }));
    w->handle_command(301);  // the button is disabled; the command still arrives by Alt keys
    EXPECT_EQ(driver.last_box_text(), "Stop Communications\nBefore selecting this option");
    EXPECT_EQ(driver.seen.back().title, "ERROR");
    EXPECT_FALSE(driver.saw("Connect"));
}

TEST_F(MainWindowTest, SettingsOkAndRestartStartsCommunicationAgain) {
    write_usable_settings();
    auto w = open_window();
    ASSERT_TRUE(wait_until([&] { return thread_running(*w); }));
    stop(*w);
    driver.on("Connect", [](QDialog& d) {
        d.findChild<QCheckBox*>("activateLoad_445")->setChecked(true);
        click(d, "ok_1");
    });
    driver.on("messageBox", [](QDialog& d) { click(d, "buttonYes"); });
    ASSERT_TRUE(click(*w, "settings_301"));
    EXPECT_EQ(driver.last_box_text(), "Restart Communications?");
    EXPECT_TRUE(w->item(305)->isEnabled());  // LOAD follows "Activate Load"
    EXPECT_TRUE(wait_until([&] { return comm.starts == 2 && thread_running(*w); }));
    EXPECT_TRUE(has_line(*w, "Quaylink Restart"));
}

TEST_F(MainWindowTest, LoadRefusesModemLinesAndRunningCommunication) {
    write_usable_settings();
    auto w = open_window();
    ASSERT_TRUE(wait_until([&] { return thread_running(*w); }));
    w->handle_command(305);
    EXPECT_EQ(driver.last_box_text(), "Stop Communications\nBefore selecting this option");
    stop(*w);

    ql::settings().modem = true;
    w->handle_command(305);
    EXPECT_EQ(driver.last_box_text(), "Load Option Not Valid For Modem Connect");
    EXPECT_TRUE(loader_paths.empty());
}

TEST_F(MainWindowTest, LoadStartsTheLoaderAndReportsItsFailure) {
    write_usable_settings();
    auto w = open_window();
    ASSERT_TRUE(wait_until([&] { return thread_running(*w); }));
    stop(*w);
    const size_t boxes = driver.seen.size();
    w->handle_command(305);
    ASSERT_EQ(loader_paths.size(), 1u);
    EXPECT_EQ(loader_paths[0], ql::server_paths().program_dir + "termload");
    EXPECT_EQ(driver.seen.size(), boxes);  // started: nothing to say

    loader_result = -1;
    w->handle_command(305);
    EXPECT_EQ(driver.last_box_text(), "Load Error\n" + loader_paths[0] + "\nrc = -1");
}

TEST_F(MainWindowTest, MinimiseAtStartAndItsCancellation) {
    write_usable_settings();
    auto w = open_window(true);
    EXPECT_TRUE(has_line(*w, "Waiting To Minimize"));
    EXPECT_TRUE(wait_until([&] { return (w->windowState() & Qt::WindowMinimized) != 0; }));
    EXPECT_FALSE(ql::server_state().minimize_pending);
    stop(*w);
    w.reset();

    // A port that cannot be opened cancels the pending minimise.
    comm.fail_open = true;
    auto failed = open_window(true);
    ASSERT_TRUE(wait_until([&] { return !ql::server_state().worker_running; }));
    settle(100);
    EXPECT_EQ(failed->windowState() & Qt::WindowMinimized, 0);
}

TEST_F(MainWindowTest, StatusListKeepsItsBoundWhileBothThreadsLog) {
    write_usable_settings();
    comm.log_lines = 2100;
    auto w = open_window();
    ASSERT_TRUE(wait_until([&] { return thread_running(*w); }));
    // The window logs while the thread is still logging: no lock is held
    // across a wait for the other thread.
    stop(*w);
    settle();
    QListWidget* l = list(*w);
    EXPECT_EQ(l->count(), 2000);
    EXPECT_EQ(l->currentRow(), l->count() - 1);
    EXPECT_NE(l->item(l->count() - 1)->text().toStdString().find("OFFLINE"), std::string::npos);
    EXPECT_FALSE(has_line(*w, "Running Quaylink"));
    EXPECT_EQ(ql::log_state().line_count, 2000);

    click(*w, "clear_302");
    settle();
    EXPECT_EQ(l->count(), 0);
    EXPECT_EQ(ql::log_state().line_count, 0);
}

TEST_F(MainWindowTest, StatusColoursFollowTheNetworkFlag) {
    write_usable_settings();
    auto w = open_window();
    auto colour = [&](int id) { return w->item(id)->palette().color(QPalette::WindowText); };
    EXPECT_EQ(colour(208), QColor(Qt::red));
    EXPECT_EQ(colour(212), QColor(Qt::blue));
    EXPECT_EQ(colour(207), QColor(Qt::blue));
    w->set_network_flag(true);
    settle();
    EXPECT_EQ(colour(207), QColor(Qt::red));
    w->set_network_flag(false);
    settle();
    EXPECT_EQ(colour(207), QColor(Qt::blue));
}

TEST_F(MainWindowTest, AboutBoxShowsTheVersionAndTheLineDetails) {
    write_usable_settings();
    auto w = open_window();
    std::string version, details;
    driver.on("LINEDETAILS", [&](QDialog& d) {
        details = d.findChild<QPlainTextEdit*>("details_text")->toPlainText().toStdString();
        d.reject();
    });
    driver.on("ABOUTBOX", [&](QDialog& d) {
        version = d.findChild<QLabel*>("version")->text().toStdString();
        EXPECT_FALSE(d.findChild<QLabel*>("bitmap_101")->pixmap().isNull());
        click(d, "details");
        click(d, "ok_1");
    });
    click(*w, "about_304");
    EXPECT_EQ(version, "Quaylink V2.28");
    for (const char* label : {"Line: ", "State: ", "Last terminal frame: ", "Commands: ",
                              "Files in / out: ", "Last error: "}) {
        EXPECT_NE(details.find(label), std::string::npos) << label << "\n" << details;
    }
}

// ---- First run ---------------------------------------------------------------

TEST_F(MainWindowTest, FirstRunCancelledAtTheCradleQuestionEndsTheProgram) {
    driver.on("CRADLECHECK", [](QDialog& d) {
        EXPECT_EQ(d.windowTitle().toStdString(), "Setup Initialization");
        click(d, "cancel_2");
    });
    auto w = open_window();
    EXPECT_TRUE(wait_until([&] { return w->has_ended(); }));
    EXPECT_EQ(comm.starts, 0);
    EXPECT_FALSE(driver.saw("POLLING"));
    EXPECT_FALSE(std::filesystem::exists(dir.path() + "/quaylink.ini"));
}

// A fake device tree with a CP210x bridge on port 5.
void add_bridge_on_port_five(const std::string& root, const std::string& settings) {
    namespace fs = std::filesystem;
    fs::path usb = fs::path(root) / "sys/devices/usb1/1-1";
    fs::create_directories(usb / "1-1:1.0/ttyUSB0");
    std::ofstream(usb / "idVendor") << "10c4\n";
    std::ofstream(usb / "manufacturer") << "Silicon Labs\n";
    std::ofstream(usb / "product") << "CP2102 USB to UART Bridge Controller\n";
    fs::create_directories(fs::path(root) / "sys/bus/usb-serial/drivers/cp210x");
    fs::create_directory_symlink(fs::path(root) / "sys/bus/usb-serial/drivers/cp210x",
                                 usb / "1-1:1.0/ttyUSB0/driver");
    fs::create_directories(fs::path(root) / "sys/class/tty/ttyUSB0");
    fs::create_directory_symlink(usb / "1-1:1.0/ttyUSB0",
                                 fs::path(root) / "sys/class/tty/ttyUSB0/device");
    std::ofstream(settings, std::ios::binary) << "[ports]\r\ncom5=/dev/ttyUSB0\r\n";
}

TEST_F(MainWindowTest, FirstRunSearchesThePortsAndOkCreatesTheFile) {
    if (!device_tree_can_be_faked()) GTEST_SKIP() << kNoFakeDeviceTree;
    add_bridge_on_port_five(dir.path(), dir.path() + "/quaylink.ini");
    ql::set_device_tree(dir.path() + "/sys", "/dev");
    std::string device_text, done_text, port_text;
    driver.on("CRADLECHECK", [](QDialog& d) { click(d, "ok_1"); });
    driver.on("POLLING", [&](QDialog& d) {
        EXPECT_EQ(d.windowTitle().toStdString(), "Setup Initialization");
        EXPECT_TRUE(wait_until([&] { return click(d, "ok_1"); }));  // enabled at the end
        device_text = d.findChild<QLabel*>("device_501")->text().toStdString();
        done_text = d.findChild<QLabel*>("done_503")->text().toStdString();
    });
    driver.on("Connect", [&](QDialog& d) {
        port_text = d.findChild<QComboBox*>("comPort_351")->currentText().toStdString();
        click(d, "ok_1");
    });
    auto w = open_window();
    EXPECT_EQ(done_text, "Search Complete");
    EXPECT_EQ(device_text, "Silicon Labs CP2102 USB to UART Bridge Controller (COM5)");
    EXPECT_EQ(port_text, "COM5 (Silicon Labs CP2102 USB t");
    EXPECT_TRUE(has_line(*w, "Creating Config File " + dir.path() + "/quaylink.ini"));
    EXPECT_TRUE(has_line(*w, "Setup Init thread Ending"));
    const std::string file = settings_text();
    for (const char* line : {"connect=irda", "baudrate=57600", "commport=5", "interchardelay=125",
                             "altreadport=no", "smallblock=no"}) {
        EXPECT_NE(file.find(line), std::string::npos) << line;
    }
    EXPECT_TRUE(wait_until([&] { return thread_running(*w); }));
}

TEST_F(MainWindowTest, FirstRunCancelledInTheSettingsDialogEndsTheProgram) {
    driver.on("CRADLECHECK", [](QDialog& d) { click(d, "ok_1"); });
    driver.on("POLLING", [](QDialog& d) { wait_until([&] { return click(d, "ok_1"); }); });
    driver.on("Connect", [](QDialog& d) { click(d, "cancel_2"); });
    auto w = open_window();
    EXPECT_TRUE(wait_until([&] { return w->has_ended(); }));
    EXPECT_EQ(comm.starts, 0);
    EXPECT_FALSE(std::filesystem::exists(dir.path() + "/quaylink.ini"));
}

TEST_F(MainWindowTest, FirstRunWithoutPortValueSkipsTheQuestionForDirectLines) {
    write_settings("[setup]\r\nconnect=direct\r\n");  // no commport: not usable
    driver.on("POLLING", [](QDialog& d) { wait_until([&] { return click(d, "ok_1"); }); });
    driver.on("Connect", [](QDialog& d) { click(d, "ok_1"); });
    auto w = open_window();
    EXPECT_FALSE(driver.saw("CRADLECHECK"));
    EXPECT_NE(settings_text().find("commport=1"), std::string::npos);
    EXPECT_NE(settings_text().find("connect=direct"), std::string::npos);
    EXPECT_TRUE(wait_until([&] { return thread_running(*w); }));
}

}  // namespace
