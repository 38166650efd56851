#include "window_fixture.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <filesystem>

#include "foundation/log.h"
#include "foundation/operator_view.h"
#include "foundation/server_state.h"
#include "foundation/settings.h"
#include "platform/clock.h"
#include "serial/discovery.h"
#include "window/dialogs.h"
#include "window/modal.h"

// Leaks inside the system libraries below Qt (font configuration, D-Bus)
// that the tests cannot free; the same list as tests/lsan.supp, built in so
// that it holds however the tests are started.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig\nleak:libQt6\nleak:libdbus\n";
}

namespace window_testing {

void ensure_application() {
    static int argc = 1;
    static char name[] = "window_tests";
    static char* argv[] = {name, nullptr};
    // No display in the test runs: the offscreen platform, unless the
    // environment chose one.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    if (QApplication::instance() == nullptr) new QApplication(argc, argv);
}

bool wait_until(const std::function<bool()>& pred, int timeout_ms) {
    const uint64_t end = platform::monotonic_ms64() + static_cast<uint64_t>(timeout_ms);
    while (!pred()) {
        if (platform::monotonic_ms64() > end) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        platform::sleep_ms(2);
    }
    return true;
}

void settle(int ms) {
    const uint64_t end = platform::monotonic_ms64() + static_cast<uint64_t>(ms);
    while (platform::monotonic_ms64() < end) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        platform::sleep_ms(1);
    }
}

bool click(QWidget& parent, const char* object_name) {
    auto* button = parent.findChild<QAbstractButton*>(object_name);
    if (button == nullptr || !button->isEnabled()) return false;
    button->click();
    return true;
}

DialogDriver::DialogDriver() {
    ql::set_modal_hook([this](QDialog& dialog) {
        SeenDialog s{dialog.objectName().toStdString(), dialog.windowTitle().toStdString(), ""};
        // Without the word joiners that keep paths in one piece on screen.
        if (auto* box = qobject_cast<QMessageBox*>(&dialog))
            s.text = box->text().remove(QChar(0x2060)).toStdString();
        seen.push_back(s);
        auto it = actions_.find(s.object_name);
        if (it != actions_.end()) {
            it->second(dialog);
        } else if (auto* box = qobject_cast<QMessageBox*>(&dialog)) {
            box->buttons().front()->click();
        } else {
            dialog.reject();
        }
    });
}

DialogDriver::~DialogDriver() {
    ql::set_modal_hook(nullptr);
}

void DialogDriver::on(const std::string& object_name, std::function<void(QDialog&)> action) {
    actions_[object_name] = std::move(action);
}

bool DialogDriver::saw(const std::string& object_name) const {
    for (const auto& s : seen)
        if (s.object_name == object_name) return true;
    return false;
}

std::string DialogDriver::last_box_text() const {
    for (auto it = seen.rbegin(); it != seen.rend(); ++it)
        if (it->object_name == "messageBox") return it->text;
    return {};
}

std::function<void()> FakeCommunication::body() {
    return [this] {
        using ql::operator_view;
        ql::OperatorView& v = operator_view();
        ql::server_state().stop_request = false;
        starts++;
        running = true;
        v.set_text(209, "PORT:  COM1");
        v.set_text(210, "BAUD:  57600");
        v.set_text(211, "CONNECT:  Direct");
        v.set_enabled(301, false);
        v.set_enabled(305, false);
        ql::status_list_add("Starting Communications");
        v.set_text(309, "STOP");
        int rc = 0;
        if (fail_open) {
            ql::server_state().minimize_pending = false;
            v.message_box("COMM OPEN FAILED\r\nPORT=1", "COMM OPEN", ql::Buttons::kOk,
                          ql::Icon::kError);
            rc = -1;
        } else {
            for (int i = 0; i < log_lines; ++i) ql::log_event(ql::strformat("line %d", i), 0, i);
            while (!ql::server_state().stop_request && !end_now) platform::sleep_ms(2);
        }
        if (rc == -1) ql::server_state().no_exit = true;
        v.set_text(208, "OFFLINE");
        if (!ql::server_state().no_exit) v.post_command(505);
        ql::server_state().no_exit = false;
        ql::log_event("Communication thread Ending", 0, 0);
        ql::log_event("OFFLINE", 0, 0);
        v.set_text(309, "START");
        v.set_enabled(301, true);
        v.set_enabled(305, ql::server_state().activate_load);
        running = false;
    };
}

bool device_tree_can_be_faked() {
    return QL_FAKE_DEVICE_TREE != 0;
}

void WindowTest::SetUp() {
    ensure_application();
    ql::server_state_reset();
    ql::settings_reset_defaults();
    ql::log_reset();
    ql::discovery_reset();
    ql::set_small_block_setting(false);
    std::filesystem::create_directories(dir.path() + "/sys/class/tty");
    ql::set_device_tree(dir.path() + "/sys", dir.path() + "/dev");
    ql::server_paths_set(dir.path(), "quaylink.ini");
}

void WindowTest::TearDown() {
    ql::set_modal_hook(nullptr);
    ql::discovery_reset();
}

void WindowTest::write_settings(const std::string& content) {
    dir.write("quaylink.ini", content);
}

std::string WindowTest::settings_text() const {
    return dir.read("quaylink.ini");
}

}  // namespace window_testing
