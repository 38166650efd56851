// Message boxes and modal runs, replaceable so tests can answer them.
#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QWidget>

#include "formwright/dialogs.h"
#include "widgets.h"

namespace fw {

namespace {

MessageFunction& message_function() {
    static MessageFunction fn;
    return fn;
}

DialogRunner& dialog_runner() {
    static DialogRunner runner;
    return runner;
}

QMessageBox::StandardButton real_message_box(QWidget* parent, const QString& text,
                                             const QString& caption,
                                             QMessageBox::StandardButtons buttons) {
    QString shown = text;
    shown.replace("\r\n", "\n");
    QMessageBox box(QMessageBox::Warning, caption, shown, buttons, parent);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

}  // namespace

void set_message_function(MessageFunction fn) {
    message_function() = std::move(fn);
}

QMessageBox::StandardButton warn(QWidget* parent, const QString& text, const QString& caption,
                                 QMessageBox::StandardButtons buttons) {
    if (message_function()) return message_function()(parent, text, caption, buttons);
    return real_message_box(parent, text, caption, buttons);
}

void set_dialog_runner(DialogRunner runner) {
    dialog_runner() = std::move(runner);
}

int run_dialog(QDialog& dialog) {
    keyboard_conventions(&dialog);
    if (dialog_runner()) return dialog_runner()(dialog);
    return dialog.exec();
}

void install_save_error_message() {
    set_save_error_handler([](const std::string& text, const std::string& caption) {
        warn(QApplication::activeWindow(), qs(text), qs(caption), QMessageBox::Ok);
    });
}

void RecordDialog::accept() {
    if (collect()) QDialog::accept();
}

void RecordDialog::refuse(QWidget* box, const char* text, const char* caption) {
    warn(this, text, caption, QMessageBox::Ok | QMessageBox::Cancel);
    box->setFocus();
}

void RecordDialog::wire_buttons(QAbstractButton* ok, QAbstractButton* cancel) {
    connect(ok, &QAbstractButton::clicked, this, &QDialog::accept);
    connect(cancel, &QAbstractButton::clicked, this, &QDialog::reject);
}

}  // namespace fw
