#include "dialog_fixture.h"

#include <QApplication>
#include <QTest>

#include "formwright/settings.h"
#include "platform/files.h"

namespace {

void ensure_application() {
    if (QApplication::instance() != nullptr) return;
    // Without a display the tests still run; CTest sets this too.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "formwright_dialogs_tests";
    static char* argv[] = {name, nullptr};
    new QApplication(argc, argv);  // lives for the whole test run
}

}  // namespace

void DialogTest::SetUp() {
    ensure_application();
    fw::settings_reset();
    fw::settings_set_directory(dir.path());
    fw::set_message_function([this](QWidget*, const QString& text, const QString& caption,
                                    QMessageBox::StandardButtons buttons) {
        messages.push_back({text, caption, buttons});
        return answer;
    });
    fw::set_dialog_runner([this](QDialog& dialog) {
        opened.push_back(dialog.windowTitle());
        dialog.show();
        if (on_dialog) {
            on_dialog(dialog);
        } else {
            click(child<QAbstractButton>(dialog, "cancelButton"));
        }
        return dialog.result();
    });
}

void DialogTest::TearDown() {
    fw::set_message_function(nullptr);
    fw::set_dialog_runner(nullptr);
    fw::settings_reset();
}

void DialogTest::click(QAbstractButton* button) {
    QTest::mouseClick(button, Qt::LeftButton, Qt::NoModifier, QPoint(6, button->height() / 2));
}

void DialogTest::type(QLineEdit* box, const QString& text) {
    box->clear();
    QTest::keyClicks(box, text);
}

bool DialogTest::file_exists() const {
    return platform::path_exists(dir.file("orderini"));
}

// Font and windowing libraries keep caches for the life of the process;
// the leak checker must not count them. (Same list as tests/lsan.supp, built
// in so it holds however the test is started.)
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig\nleak:libQt6\nleak:libdbus\n";
}
