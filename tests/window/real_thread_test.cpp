// The window with the real communication thread serving a terminal on a
// pseudo-terminal: START/STOP cycles keep the program open, a LINESTOP from
// the terminal ends it.
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <chrono>

#include "foundation/server_state.h"
#include "foundation/settings.h"
#include "pty_pair.h"
#include "terminal/communication.h"
#include "termsim.h"
#include "window/main_window.h"
#include "window_fixture.h"

namespace {

using namespace window_testing;

class RealThreadTest : public WindowTest {
  protected:
    std::string text(int id) {
        QWidget* w = window->item(id);
        // A line item too narrow for its text shows it shortened, whole in
        // the tooltip.
        if (auto* edit = qobject_cast<QLineEdit*>(w))
            return (edit->toolTip().isEmpty() ? edit->text() : edit->toolTip()).toStdString();
        if (auto* button = qobject_cast<QPushButton*>(w)) return button->text().toStdString();
        return {};
    }

    bool serving() { return ql::server_state().worker_running && text(309) == "STOP"; }

    // One command frame from the terminal; the reply's status and text.
    std::string exchange(const std::string& command) {
        pty.discard();
        pty.write(termsim::command_frame(command));
        std::string bytes = pty.read(512, 10000);
        // The reply ends with its checksum byte after the text; let it all in.
        bytes += pty.read(512, 300);
        return termsim::decode_reply(bytes).line();
    }

    testing_support::PtyPair pty;
    DialogDriver driver;
    std::unique_ptr<ql::MainWindow> window;
};

TEST_F(RealThreadTest, StartStopCyclesAndLinestop) {
    ASSERT_TRUE(pty.ok());
    write_settings("[setup]\r\ncommport=" + pty.slave_path() +
                   "\r\nconnect=direct\r\nbaudrate=57600\r\ninterchardelay=100\r\n");
    ql::WindowOptions options;
    options.thread_body = [] { ql::communication_thread(); };
    options.end_delay_ms = 0;
    window = std::make_unique<ql::MainWindow>(options);
    window->show();
    window->initialize();

    for (int cycle = 0; cycle < 2; ++cycle) {
        ASSERT_TRUE(wait_until([&] { return serving(); })) << cycle;
        EXPECT_TRUE(wait_until([&] { return text(209) == "PORT:  " + pty.slave_path(); }))
            << text(209);
        EXPECT_EQ(text(211), "CONNECT:  Direct");
        EXPECT_FALSE(window->item(301)->isEnabled());
        EXPECT_FALSE(window->item(305)->isEnabled());
        EXPECT_EQ(exchange("DATETIME").substr(0, 1), "0");

        ASSERT_TRUE(click(*window, "startStop_309"));
        ASSERT_TRUE(wait_until(
            [&] {
                return !ql::server_state().worker_running && text(309) == "START" &&
                       text(208) == "OFFLINE";
            },
            30000));
        settle(50);
        EXPECT_FALSE(window->has_ended());
        EXPECT_EQ(text(209), "PORT:  " + pty.slave_path());  // the last port tried stays
        EXPECT_TRUE(window->item(301)->isEnabled());
        ASSERT_TRUE(click(*window, "startStop_309"));
    }
    ASSERT_TRUE(wait_until([&] { return serving(); }));
    pty.write(termsim::command_frame("LINESTOP"));
    EXPECT_TRUE(wait_until([&] { return window->has_ended(); }, 30000));
}

// A port named by its device path: the log, the failure message and the
// status line during the IR cradle handshake all name the path.
TEST_F(RealThreadTest, DevicePathPortIsNamedEverywhere) {
    const std::string device = dir.path() + "/no-such-tty";
    write_settings("[setup]\r\ncommport=" + device + "\r\nconnect=irda\r\n");
    std::string status_during_failure;
    driver.on("messageBox", [&](QDialog& box) {
        status_during_failure = text(208);
        box.reject();
    });
    ql::WindowOptions options;
    options.thread_body = [] { ql::communication_thread(); };
    options.end_delay_ms = 0;
    window = std::make_unique<ql::MainWindow>(options);
    window->show();
    window->initialize();
    ASSERT_TRUE(wait_until([&] { return driver.saw("messageBox"); }, 60000));
    // The reason and the next step follow the two lines scripts know.
    EXPECT_EQ(driver.last_box_text(), "COMM OPEN FAILED\nPORT=" + device + "\n" + device +
                                          ": no such device; is the cradle plugged in?");
    EXPECT_EQ(status_during_failure, "Looking for the IR cradle on " + device + " ...");
    ASSERT_TRUE(wait_until([&] { return text(208) == "OFFLINE"; }));
    auto* list = window->findChild<QListWidget*>("statusList_501");
    bool logged = false;
    for (int i = 0; i < list->count(); ++i) {
        logged = logged ||
                 list->item(i)->text().endsWith(QString::fromStdString("COMMPORT = " + device));
    }
    EXPECT_TRUE(logged);
    bool explained = false;
    for (int i = 0; i < list->count(); ++i) {
        explained = explained || list->item(i)->text().contains(QString::fromStdString(
                                     "Comm CreateFile Error: 2 (" + device + ": no such device"));
    }
    EXPECT_TRUE(explained);
    EXPECT_EQ(text(209), "PORT:  " + device);  // the port tried stays in view
    EXPECT_FALSE(window->has_ended());
}

// STOP while the IR cradle probe waits for a cradle that does not answer
// ends the probe at once, without a failure box to confirm.
TEST_F(RealThreadTest, StopEndsTheCradleProbeWithoutAFailureBox) {
    ASSERT_TRUE(pty.ok());
    write_settings("[setup]\r\ncommport=" + pty.slave_path() + "\r\nconnect=irda\r\n");
    ql::WindowOptions options;
    options.thread_body = [] { ql::communication_thread(); };
    options.end_delay_ms = 0;
    window = std::make_unique<ql::MainWindow>(options);
    window->show();
    window->initialize();
    ASSERT_TRUE(wait_until([&] { return text(208).rfind("Looking for the IR cradle", 0) == 0; }));
    settle(300);  // the probe is under way
    const auto asked = std::chrono::steady_clock::now();
    ASSERT_TRUE(click(*window, "startStop_309"));
    ASSERT_TRUE(wait_until([&] { return !ql::server_state().worker_running; }, 30000));
    const auto took = std::chrono::steady_clock::now() - asked;
    // The probe itself would run on for seconds; a loaded machine gets slack.
    EXPECT_LT(took, std::chrono::milliseconds(2500));
    settle(100);
    EXPECT_FALSE(driver.saw("messageBox")) << driver.last_box_text();
    EXPECT_FALSE(window->has_ended());
    EXPECT_EQ(text(209), "PORT:  " + pty.slave_path());
}

}  // namespace
