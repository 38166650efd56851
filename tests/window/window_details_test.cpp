// What an operator sees and does beyond the commands: the progress bar and
// title at any width and font, the buttons while the end is on its way, the
// keyboard, the window's place and the port search's report.
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTest>
#include <QTextLayout>
#include <algorithm>

#include "foundation/log.h"
#include "foundation/server_state.h"
#include "foundation/settings.h"
#include "terminal/progress.h"
#include "window/dialogs.h"
#include "window/main_window.h"
#include "window/modal.h"
#include "window_fixture.h"

namespace {

using namespace window_testing;
using ql::MainWindow;

class WindowDetails : public WindowTest {
  protected:
    void SetUp() override {
        WindowTest::SetUp();
        ql::progress_reset();
        write_settings("[setup]\r\ncommport=1\r\nconnect=direct\r\n");
    }
    void TearDown() override {
        ql::progress_reset();
        WindowTest::TearDown();
    }
    std::unique_ptr<MainWindow> open_window(int end_delay_ms = 0) {
        ql::WindowOptions options;
        options.thread_body = comm.body();
        options.end_delay_ms = end_delay_ms;
        auto window = std::make_unique<MainWindow>(options);
        window->show();
        window->initialize();
        settle();
        return window;
    }
    QLabel* label(MainWindow& w, int id) { return qobject_cast<QLabel*>(w.item(id)); }
    QPushButton* button(MainWindow& w, int id) { return qobject_cast<QPushButton*>(w.item(id)); }

    FakeCommunication comm;
    DialogDriver driver;
};

// The pixels of the "=" run at the start of the bar and the room it has.
struct BarFill {
    int run = 0;
    int room = 0;
    int one = 0;
    int one_more = 0;  // the run with one "=" more
};

BarFill bar_fill(QLabel& bar) {
    const QString text = bar.text();
    qsizetype n = 0;
    while (n < text.size() && text[n] == '=') ++n;
    const QFontMetrics metrics = bar.fontMetrics();
    return {metrics.horizontalAdvance(text.left(n)), bar.contentsRect().width(),
            metrics.horizontalAdvance('='), metrics.horizontalAdvance(QString(n + 1, '='))};
}

// The bar used to be full at about 60 %: its length counted average
// characters plus 15, and "=" is no average character.
TEST_F(WindowDetails, BarIsFullExactlyAtOneHundredPercent) {
    auto w = open_window();
    QLabel* bar = label(*w, 207);
    for (int pixels : {11, 16, 22}) {
        QFont font = w->font();
        font.setPixelSize(pixels);
        w->setFont(font);
        for (int width : {520, 700, 900, 1250}) {
            w->resize(width, w->height());
            settle();
            SCOPED_TRACE(testing::Message() << "font " << pixels << " width " << width);
            ql::show_progress("DATA.TXT", 0, 1000, 0);
            ql::show_progress("", 0, 1000, 990);  // the first count always shows
            settle();
            BarFill at99 = bar_fill(*bar);
            EXPECT_GT(at99.room - at99.run, at99.one / 2) << "full before the end";
            ql::show_progress("", 0, 1000, 1000);
            settle();
            BarFill at100 = bar_fill(*bar);
            EXPECT_LE(at100.run, at100.room);
            EXPECT_GT(at100.one_more, at100.room)
                << "not full at the end: " << bar->text().size() << " chars, bar width "
                << w->bar_width_chars() << " label " << bar->width() << " window " << w->width();
            ql::show_progress("", 0, 1000, -1);
        }
    }
}

// The whole title shows when it fits; otherwise only the folder gives way.
TEST_F(WindowDetails, ProgressTitleKeepsNameAndCount) {
    auto w = open_window();
    w->resize(560, w->height());
    settle();
    const std::string folder = "/srv/quaylink/" + std::string(120, 'f') + "/inbound/";
    ql::show_progress(folder + "DEVSCAN.CSV", 20, 40000000, 0);
    settle();
    QLabel* title = label(*w, 200);
    const QString shown = title->text();
    EXPECT_TRUE(shown.startsWith("FTP SEND: /srv")) << shown.toStdString();
    EXPECT_TRUE(shown.endsWith("/inbound/DEVSCAN.CSV : 40000000")) << shown.toStdString();
    EXPECT_TRUE(shown.contains(QChar(0x2026)));
    EXPECT_LE(title->fontMetrics().horizontalAdvance(shown), title->contentsRect().width());

    // A name too long by itself: the folder shows as a marked "...", the
    // name is cut in its middle, the count stays whole.
    const std::string long_name = "UPLOAD_" + std::string(150, 'W') + "_END.CSV";
    ql::show_progress(folder + long_name, 20, 40000000, 0);
    settle();
    const QString cut = title->text();
    EXPECT_TRUE(cut.startsWith(QString("FTP SEND: ") + QChar(0x2026) + "/")) << cut.toStdString();
    EXPECT_TRUE(cut.endsWith("_END.CSV : 40000000")) << cut.toStdString();
    EXPECT_TRUE(cut.contains("UPLOAD_")) << cut.toStdString();
    EXPECT_LE(title->fontMetrics().horizontalAdvance(cut), title->contentsRect().width());
    ql::show_progress(folder + "DEVSCAN.CSV", 20, 40000000, 0);

    w->resize(4000, w->height());  // room again: the whole title comes back
    settle();
    EXPECT_EQ(title->text().toStdString(), "FTP SEND: " + folder + "DEVSCAN.CSV : 40000000");

    const QFontMetrics metrics = title->fontMetrics();
    // Narrower than the kind and the count: those still show whole.
    const QString narrow = ql::elide_progress_title("SENDING: x/y/NAME.TXT : 5", metrics, 1);
    EXPECT_TRUE(narrow.startsWith("SENDING: ")) << narrow.toStdString();
    EXPECT_TRUE(narrow.endsWith(" : 5")) << narrow.toStdString();
}

// A long device path: the port label stays whole, the path gives way in
// its middle and shows whole in the tooltip; a message box keeps a path on
// one line.
TEST_F(WindowDetails, LongDevicePathKeepsTheLabelAndStaysWhole) {
    auto w = open_window();
    w->resize(600, w->height());
    settle();
    const QString path =
        "/dev/serial/by-id/usb-Silicon_Labs_CP2102_USB_to_UART_Bridge_Controller_0001-if00-port0";
    ql::operator_view().set_text(209, "PORT:  " + path.toStdString());
    settle();
    auto* port = qobject_cast<QLineEdit*>(w->item(209));
    const QString shown = port->text();
    EXPECT_TRUE(shown.startsWith("PORT:  /dev/")) << shown.toStdString();
    EXPECT_TRUE(shown.endsWith("port0")) << shown.toStdString();
    EXPECT_TRUE(shown.contains(QChar(0x2026))) << shown.toStdString();
    EXPECT_LT(port->fontMetrics().horizontalAdvance(shown), port->width());
    EXPECT_EQ(port->toolTip(), "PORT:  " + path);
    w->resize(4000, w->height());
    settle();
    EXPECT_EQ(port->text(), "PORT:  " + path);

    QString label_text;
    QFont label_font;
    driver.on("messageBox", [&](QDialog& box) {
        auto* label = box.findChild<QLabel*>("qt_msgbox_label");
        ASSERT_NE(label, nullptr);
        label_text = label->text();
        label_font = label->font();
        box.accept();
    });
    ql::show_message_box(w.get(), "COMM OPEN FAILED\r\nPORT=9 (/dev/ttyUSB0) is gone", "COMM OPEN",
                         ql::Buttons::kOk, ql::Icon::kError);
    // Laid out far narrower than the path: it still sits on one line.
    QTextLayout layout(label_text, label_font);
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine())
        line.setLineWidth(40);
    layout.endLayout();
    const qsizetype start = label_text.indexOf("(");
    const qsizetype end = label_text.indexOf(")");
    ASSERT_GE(start, 0);
    EXPECT_EQ(layout.lineForTextPosition(int(start)).lineNumber(),
              layout.lineForTextPosition(int(end)).lineNumber());
    EXPECT_EQ(QString(label_text).remove(QChar(0x2060)),
              "COMM OPEN FAILED\nPORT=9 (/dev/ttyUSB0) is gone");
}

TEST_F(WindowDetails, ButtonsGoGreyTheMomentTheEndIsAskedFor) {
    auto w = open_window();
    ASSERT_TRUE(wait_until([&] { return comm.running.load(); }));
    ASSERT_TRUE(click(*w, "startStop_309"));
    EXPECT_FALSE(button(*w, 309)->isEnabled());  // before the thread has ended
    ASSERT_TRUE(wait_until([&] { return button(*w, 309)->text() == "START"; }));
    EXPECT_TRUE(wait_until([&] { return button(*w, 309)->isEnabled(); }));

    ASSERT_TRUE(click(*w, "startStop_309"));
    ASSERT_TRUE(wait_until([&] { return comm.running.load(); }));
    ASSERT_TRUE(click(*w, "exit_2"));
    for (int id : {2, 301, 302, 304, 305, 309}) EXPECT_FALSE(button(*w, id)->isEnabled()) << id;
    EXPECT_EQ(w->windowTitle().toStdString(), "Quaylink Ending[C]..");
    EXPECT_TRUE(wait_until([&] { return w->has_ended(); }));
}

TEST_F(WindowDetails, CloseBoxGreysTheButtonsToo) {
    auto w = open_window();
    ASSERT_TRUE(wait_until([&] { return comm.running.load(); }));
    w->close();
    for (int id : {2, 301, 302, 304, 305, 309}) EXPECT_FALSE(button(*w, id)->isEnabled()) << id;
    EXPECT_TRUE(wait_until([&] { return w->has_ended(); }));
}

// Once the end is asked for no button comes back, not even SETTINGS that
// the ending thread enables, and a queued click opens nothing.
TEST_F(WindowDetails, NoButtonComesBackWhileTheProgramEnds) {
    auto w = open_window(400);
    ASSERT_TRUE(wait_until([&] { return comm.running.load(); }));
    QTest::keyClick(w.get(), Qt::Key_Escape);
    ASSERT_TRUE(wait_until([&] { return !comm.running.load(); }));
    settle(50);
    ASSERT_FALSE(w->has_ended());
    for (int id : {2, 301, 302, 304, 305, 309}) EXPECT_FALSE(button(*w, id)->isEnabled()) << id;
    w->handle_command(301);
    settle();
    EXPECT_FALSE(driver.saw("Connect"));
    EXPECT_TRUE(wait_until([&] { return w->has_ended(); }));
}

// After STOP, by Return or by mouse, the focus is on START: a second
// Return starts again and never reaches EXIT.
TEST_F(WindowDetails, AfterStopTheFocusIsOnStartNeverOnExit) {
    auto w = open_window();
    QPushButton* start_stop = button(*w, 309);
    for (bool by_mouse : {false, true}) {
        ASSERT_TRUE(wait_until([&] { return comm.running.load() && start_stop->isEnabled(); }));
        const int starts = comm.starts;
        if (by_mouse) {
            QTest::mouseClick(start_stop, Qt::LeftButton);
        } else {
            start_stop->setFocus();
            QTest::keyClick(start_stop, Qt::Key_Return);
        }
        EXPECT_NE(w->focusWidget(), w->item(2)) << by_mouse;
        ASSERT_TRUE(
            wait_until([&] { return start_stop->text() == "START" && start_stop->isEnabled(); }));
        settle();
        EXPECT_EQ(w->focusWidget(), start_stop) << by_mouse;
        QTest::keyClick(w->focusWidget(), Qt::Key_Return);
        EXPECT_TRUE(wait_until([&] { return comm.starts == starts + 1; })) << by_mouse;
        EXPECT_FALSE(w->has_ended());
    }
}

// A box of the communication thread does not lock the window: EXIT while
// "COMM OPEN FAILED" is open ends the program and closes the box.
TEST_F(WindowDetails, ExitWorksWhileTheThreadsBoxIsOpen) {
    comm.fail_open = true;
    bool closed_with_exit = false;
    driver.on("messageBox", [&](QDialog& box) {
        ASSERT_TRUE(click(*box.parentWidget(), "exit_2"));
        closed_with_exit = !box.isVisible();
    });
    auto w = open_window();
    ASSERT_TRUE(wait_until([&] { return driver.saw("messageBox"); }));
    EXPECT_TRUE(closed_with_exit);
    EXPECT_TRUE(wait_until([&] { return w->has_ended(); }));
}

TEST_F(WindowDetails, ReturnAndEnterPressTheFocusedButton) {
    auto w = open_window();
    for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter}) {
        ql::status_list_add("a line");
        settle();
        auto* list = w->findChild<QListWidget*>("statusList_501");
        ASSERT_GT(list->count(), 0);
        QPushButton* clear = button(*w, 302);
        clear->setFocus();
        QTest::keyClick(clear, key);
        settle();
        EXPECT_EQ(list->count(), 0) << key;
    }
}

// Tab reaches a radio group once, at its checked radio; the arrows then
// move inside the group and the Tab stop follows the choice.
TEST_F(WindowDetails, TabEntersRadioGroupsAtTheCheckedRadio) {
    ql::settings().baudrate = 38400;
    ql::settings().connect_kind = ql::kConnectUsb;
    std::vector<std::string> radios_reached;
    driver.on("Connect", [&](QDialog& d) {
        QWidget* first = d.findChild<QWidget*>("comPort_351");
        first->setFocus();
        for (int i = 0; i < 40; ++i) {
            QTest::keyClick(d.focusWidget(), Qt::Key_Tab);
            if (auto* r = qobject_cast<QRadioButton*>(d.focusWidget())) {
                radios_reached.push_back(r->objectName().toStdString());
            }
        }
        // The arrows work in the active window only.
        d.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&d));
        auto* usb = d.findChild<QRadioButton*>("usbVcom_423");
        usb->setFocus();
        QTest::keyClick(usb, Qt::Key_Up);
        EXPECT_TRUE(d.findChild<QRadioButton*>("modem_422")->isChecked());
        EXPECT_EQ(d.findChild<QRadioButton*>("modem_422")->focusPolicy(), Qt::StrongFocus);
        EXPECT_EQ(usb->focusPolicy(), Qt::ClickFocus);
        d.reject();
    });
    ql::run_connect_dialog(nullptr);
    ASSERT_FALSE(radios_reached.empty());
    for (const std::string& name : radios_reached) {
        EXPECT_TRUE(name == "usbVcom_423" || name == "baud38400_402") << name;
    }
    EXPECT_NE(std::find(radios_reached.begin(), radios_reached.end(), "baud38400_402"),
              radios_reached.end());
}

// Placed before its native window exists, the window's position is that of
// its frame: the title bar is 10 pixels below the top, centred across.
TEST_F(WindowDetails, FrameIsPlacedCentredTenPixelsBelowTheTop) {
    ql::WindowOptions options;
    options.thread_body = comm.body();
    MainWindow w(options);
    EXPECT_FALSE(w.testAttribute(Qt::WA_WState_Created));
    const QRect desk = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_EQ(w.pos().y(), desk.y() + 10);
    EXPECT_NEAR(w.pos().x() + w.width() / 2, desk.center().x(), 2);
}

TEST_F(WindowDetails, PortSearchWithoutBridgeSaysSoAndListsThePorts) {
    if (!device_tree_can_be_faked()) GTEST_SKIP() << kNoFakeDeviceTree;
    EXPECT_EQ(ql::ports_seen_line(), "Serial ports seen: none");
    std::string device_text, cradle_text;
    driver.on("POLLING", [&](QDialog& d) {
        wait_until([&] { return click(d, "ok_1"); });
        device_text = d.findChild<QLabel*>("device_501")->text().toStdString();
        cradle_text = d.findChild<QLabel*>("cradle_502")->text().toStdString();
    });
    ql::PollingDialog polling;
    ql::run_modal(polling);
    EXPECT_EQ(device_text, "No cradle bridge (CP210x) found");
    EXPECT_EQ(cradle_text, "Serial ports seen: none");
}

}  // namespace
