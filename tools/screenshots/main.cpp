// Renders the main window and every dialog of the server's window mode to
// PNG files (quaylink-<dialog>.png) in the folder given as the argument, with
// a sample line state, transfer and status list. Runs without a display.
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QPushButton>
#include <QTemporaryDir>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "foundation/log.h"
#include "foundation/operator_view.h"
#include "foundation/server_state.h"
#include "foundation/settings.h"
#include "platform/clock.h"
#include "serial/discovery.h"
#include "window/dialogs.h"
#include "window/main_window.h"
#include "window/modal.h"

namespace {

namespace fs = std::filesystem;

QString g_out;
std::atomic<bool> g_shown{false};

bool save(QWidget& w, const char* name) {
    const QString path = g_out + "/quaylink-" + name + ".png";
    if (!w.grab().save(path)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

void pump(int ms) {
    const uint64_t end = platform::monotonic_ms64() + static_cast<uint64_t>(ms);
    while (platform::monotonic_ms64() < end) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        platform::sleep_ms(2);
    }
}

// A machine with two serial ports and a cradle bridge on port 5.
void make_device_tree(const fs::path& root) {
    for (const char* tty : {"ttyS0", "ttyS1"}) {
        fs::path dev = root / "sys/devices/pnp0" / tty;
        fs::create_directories(dev);
        fs::create_directories(root / "sys/class/tty" / tty);
        fs::create_directory_symlink(dev, root / "sys/class/tty" / tty / "device");
    }
    fs::path usb = root / "sys/devices/usb1/1-1";
    fs::create_directories(usb / "1-1:1.0/ttyUSB0");
    std::ofstream(usb / "idVendor") << "10c4\n";
    std::ofstream(usb / "manufacturer") << "Silicon Labs\n";
    std::ofstream(usb / "product") << "CP2102 USB to UART Bridge Controller\n";
    fs::create_directories(root / "sys/bus/usb-serial/drivers/cp210x");
    fs::create_directory_symlink(root / "sys/bus/usb-serial/drivers/cp210x",
                                 usb / "1-1:1.0/ttyUSB0/driver");
    fs::create_directories(root / "sys/class/tty/ttyUSB0");
    fs::create_directory_symlink(usb / "1-1:1.0/ttyUSB0", root / "sys/class/tty/ttyUSB0/device");
    std::ofstream(root / "quaylink.ini", std::ios::binary)
        << "[setup]\r\nworkdir=/srv/quaylink/data\r\ncommport=5\r\nbaudrate=57600\r\n"
           "interchardelay=125\r\nconnect=irda\r\n[ports]\r\ncom5=/dev/ttyUSB0\r\n";
}

// The line as the communication thread shows it in the middle of an upload.
void sample_session() {
    ql::OperatorView& v = ql::operator_view();
    ql::settings_load();
    v.set_text(209, "PORT:  COM5");
    v.set_text(210, "BAUD:  57600");
    v.set_text(211, "CONNECT:  IRDA");
    v.set_enabled(301, false);
    v.set_enabled(305, false);
    v.set_text(309, "STOP");
    ql::status_list_add("Starting Communications");
    for (const char* line : {"COMMPORT = 5", "BAUD = 57600", "INTER CHAR DELAY = 125",
                             "IRDA DEVICE", "VERBOSE MODE (Debug unticked: commands and transfers)",
                             "RCV: DIR,*.TXT", "RCV: SEND,DATA.TXT"}) {
        ql::log_event(line, 0, 0);
    }
    v.set_text(208, "SEND");
    v.set_text(212, "FTP 192.168.10.5");
    v.set_text(200, "RECEIVING: DATA.TXT : 48213");
    v.set_text(201, "50%    24106");
    v.set_text(207, std::string(static_cast<size_t>(v.bar_width_chars()) / 2, '='));
    g_shown = true;
    while (!ql::server_state().stop_request) platform::sleep_ms(5);
    v.set_text(309, "START");
    v.set_enabled(301, true);
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    g_out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString("docs/images");
    QDir().mkpath(g_out);
    QTemporaryDir temp;
    const fs::path root = temp.path().toStdString();
    make_device_tree(root);
    ql::set_device_tree((root / "sys").string(), "/dev");
    ql::server_paths_set(root.string(), "quaylink.ini");
    ql::server_state_reset();

    bool ok = true;
    ql::set_modal_hook([&ok](QDialog& d) {
        pump(50);
        if (d.objectName() == "POLLING") {
            auto* done = d.findChild<QPushButton*>("ok_1");
            while (!done->isEnabled()) pump(20);
        }
        ok = save(d, qPrintable(d.objectName().toLower())) && ok;
        d.reject();
    });

    ql::WindowOptions options;
    options.thread_body = sample_session;
    options.start_loader = [](const std::string&) { return 0; };
    ql::MainWindow window(options);
    window.resize(640, 480);
    window.show();
    window.initialize();
    while (!g_shown) pump(10);
    pump(100);
    ok = save(window, "main") && ok;

    ql::server_state().no_exit = true;
    ql::server_state().stop_request = true;
    while (ql::server_state().worker_running) pump(10);
    pump(50);
    window.handle_command(301);  // "Connect"
    window.handle_command(304);  // "ABOUTBOX"
    ql::set_cradle_search_request(true);
    // A cradle that answers, without touching the machine's own ports.
    ql::set_cradle_probe([](int, int, int) { return true; });
    ql::ask_cradle_question(&window);  // "CRADLECHECK"
    {
        ql::PollingDialog polling(&window);
        ql::run_modal(polling);  // "POLLING"
    }
    ql::set_modal_hook(nullptr);
    return ok ? 0 : 1;
}
