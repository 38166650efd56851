// The port search dialog of the first-run set-up and its search thread.
#include <QCloseEvent>
#include <QPushButton>

#include "foundation/server_state.h"
#include "serial/discovery.h"
#include "ui_polling_dialog.h"
#include "window/dialogs.h"

namespace ql {

PollingDialog::PollingDialog(QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::PollingDialog>()) {
    ui_->setupUi(this);
    keyboard_conventions(this);
    ui_->cradle_502->setWordWrap(true);
}

PollingDialog::~PollingDialog() {
    join_search();
}

void PollingDialog::show_text(int item, const std::string& text) {
    QString value = QString::fromStdString(text);
    QMetaObject::invokeMethod(
        this,
        [this, item, value] {
            if (item == search_item::kDevice) ui_->device_501->setText(value);
            if (item == search_item::kCradle) ui_->cradle_502->setText(value);
        },
        Qt::QueuedConnection);
}

void PollingDialog::post_command(int command) {
    if (command != kSearchEndedCommand) return;
    QMetaObject::invokeMethod(
        this, [this] { search_ended(); }, Qt::QueuedConnection);
}

void PollingDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (started_) return;
    started_ = true;
    ui_->ok_1->setEnabled(false);
    running_ = true;
    server_state().worker_running = true;
    search_ = std::thread([this] {
        cradle_search_thread(this);
        running_ = false;
    });
}

void PollingDialog::search_ended() {
    join_search();
    ui_->ok_1->setEnabled(true);
    ui_->done_503->setText("Search Complete");
    // The search names every bridge it finds: an empty line means none was,
    // and the operator wants to know which ports there are instead.
    if (ui_->device_501->text().isEmpty()) {
        ui_->device_501->setText("No cradle bridge (CP210x) found");
        ui_->cradle_502->setText(QString::fromStdString(ports_seen_line()));
    }
}

std::string ports_seen_line() {
    std::string names;
    const std::vector<std::string> table = port_table();
    for (size_t n = 1; n < table.size(); ++n) {
        if (table[n].empty()) continue;
        if (!names.empty()) names += ", ";
        // A name is shown with the device it stands for when the two differ.
        const std::string device = port_table_device(static_cast<int>(n));
        names += table[n];
        if (!device.empty() && device.find(table[n]) == std::string::npos) {
            names += " (" + device + ")";
        }
    }
    return names.empty() ? "Serial ports seen: none" : "Serial ports seen: " + names;
}

void PollingDialog::done(int result) {
    // The window stays until the search is over: its thread writes here.
    if (running_) return;
    join_search();
    QDialog::done(result);
}

void PollingDialog::closeEvent(QCloseEvent* event) {
    if (running_) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void PollingDialog::join_search() {
    if (search_.joinable()) search_.join();
}

}  // namespace ql
