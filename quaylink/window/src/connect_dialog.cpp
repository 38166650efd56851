// The settings dialog "Connect": the serial connection of the server.
#include <QComboBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QRegularExpression>
#include <atomic>
#include <cstdlib>

#include "foundation/log.h"
#include "foundation/server_state.h"
#include "foundation/settings.h"
#include "platform/files.h"
#include "profile/profile.h"
#include "serial/discovery.h"
#include "ui_connect_dialog.h"
#include "window/dialogs.h"
#include "window/ids.h"
#include "window/modal.h"

namespace ql {

namespace {

std::atomic<bool> g_small_block{false};

const char* const kSetup = "setup";
const int kDelays[] = {75, 100, 125, 150, 200, 250, 500, 1000};

// The port a text of the port list stands for: a number, and the device
// path to store instead of the number when the number alone does not reach
// the device (a USB port numbered by the search), or a path typed in.
struct PortChoice {
    int number = 0;
    std::string device;
};

bool same_port(const PortChoice& a, const PortChoice& b) {
    if (!a.device.empty() || !b.device.empty()) return a.device == b.device;
    return a.number == b.number;
}

// "COM7 (USB bridge)" gives 7: the number after the three letters. A text
// shorter than that is read from its start, and a device path stands for
// itself.
PortChoice parse_port_text(const std::string& text) {
    PortChoice choice;
    if (text[0] == '/') {
        choice.device = text;
        return choice;
    }
    choice.number = std::atoi(text.size() > 3 ? text.c_str() + 3 : text.c_str());
    choice.device = port_table_assigned_device(choice.number);
    return choice;
}

// One write to the settings file; counted when it succeeds.
void put(const char* key, const std::string& value, int& written) {
    if (profile::profile_put(server_paths().settings_path, kSetup, key, value.c_str(), 0) == 0) {
        written++;
    }
}

bool settings_file_missing() {
    return platform::file_size(server_paths().settings_path) <= 0;
}

bool settings_file_has_port() {
    std::string value;
    return profile::profile_get(server_paths().settings_path, kSetup, "commport", value, "", 256) ==
           profile::kFound;
}

const char* connect_word(bool modem, int kind) {
    if (modem) return "modem";
    if (kind == kConnectUsb) return "usb";
    return kind == kConnectIrda ? "irda" : "direct";
}

void apply_connect(const ConnectChoice& c, bool write_all, int& written) {
    if (c.connect < 0) return;
    ServerSettings& s = settings();
    static const int kinds[] = {kConnectDirect, kConnectIrda, kConnectDirect, kConnectUsb};
    const bool modem = c.connect == 2;
    const int kind = kinds[c.connect];
    const bool changed = modem != s.modem || kind != s.connect_kind;
    s.modem = modem;
    s.connect_kind = kind;
    if (write_all || changed) put("connect", connect_word(modem, kind), written);
}

void apply_baud(const ConnectChoice& c, bool write_all, int& written) {
    if (c.baud < 0) return;
    ServerSettings& s = settings();
    const int rate = ui::kBaudRates[c.baud];
    const bool changed = rate != s.baudrate;
    s.baudrate = rate;
    if (write_all || changed) put("baudrate", strformat("%d", rate), written);
}

void apply_port(const ConnectChoice& c, bool write_all, int& written) {
    const std::string text = c.port_text.substr(0, 47);
    if (text.empty()) return;
    ServerSettings& s = settings();
    const PortChoice chosen = parse_port_text(text);
    const bool changed = !same_port(chosen, PortChoice{s.commport, s.commport_device});
    s.commport = chosen.number;
    s.commport_device = chosen.device;
    if (!write_all && !changed) return;
    // A device path is stored as the port itself, so that the line opens
    // the device chosen whatever the port map says.
    put("commport", chosen.device.empty() ? strformat("%d", chosen.number) : chosen.device,
        written);
}

void apply_delay(const ConnectChoice& c, bool write_all, int& written) {
    const std::string text = c.delay_text.substr(0, 31);
    if (text.empty()) return;
    ServerSettings& s = settings();
    const int delay = std::atoi(text.c_str());
    const bool changed = delay != s.interchardelay;
    s.interchardelay = delay;
    if (write_all || changed) put("interchardelay", strformat("%d", delay), written);
}

// The log file box: only a change of the tick is written (and not counted).
// A log turned on in a session that had none gets its path now, by the
// rule of the settings load.
void apply_log_file(const ConnectChoice& c) {
    LogState& log = log_state();
    const bool was_on = log.mode != 0;
    if (c.log_file == was_on) return;
    if (c.log_file && log_path().empty()) {
        std::string logdir;
        profile::profile_get(server_paths().settings_path, kSetup, "logdir", logdir, "", 256);
        std::string dir = logdir.empty() ? effective_workdir() : with_trailing_separator(logdir);
        if (!set_log_path(dir + "quaylink.log")) return;  // too long: stays off
    }
    log.mode = c.log_file ? 1 : 0;
    int ignored = 0;
    put("logfile", c.log_file ? "APPEND" : "OFF", ignored);
}

void apply_flag(const char* key, bool value, bool old_value, bool write_all, int& written) {
    if (write_all || value != old_value) put(key, value ? "yes" : "no", written);
}

}  // namespace

bool small_block_setting() {
    return g_small_block;
}
void set_small_block_setting(bool on) {
    g_small_block = on;
}

int apply_connect_choice(const ConnectChoice& c) {
    const bool missing = settings_file_missing();
    const bool write_all = missing || !settings_file_has_port();
    int written = missing ? 1 : 0;

    apply_connect(c, write_all, written);
    apply_baud(c, write_all, written);
    apply_port(c, write_all, written);
    apply_delay(c, write_all, written);
    log_state().verbosity = c.debug ? 2 : 1;
    apply_log_file(c);

    ServerSettings& s = settings();
    apply_flag("altreadport", c.alt_read, s.altread, write_all, written);
    s.altread = c.alt_read;
    apply_flag("smallblock", c.small_block, g_small_block, write_all, written);
    g_small_block = c.small_block;
    server_state().activate_load = c.activate_load;

    return (!server_state().worker_running || written > 0) ? 1 : 0;
}

ConnectDialog::ConnectDialog(QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::ConnectDialog>()) {
    ui_->setupUi(this);
    // Return in a box would otherwise add its text to the list, and the
    // port check takes any entry of the list: a typed "abc" would pass.
    // Return goes on to the dialog and runs the same checks as OK.
    ui_->comPort_351->setInsertPolicy(QComboBox::NoInsert);
    ui_->interCharDelay_352->setInsertPolicy(QComboBox::NoInsert);
    keyboard_conventions(this);
    fill_from_settings();
}

ConnectDialog::~ConnectDialog() = default;

void ConnectDialog::fill_from_settings() {
    const ServerSettings& s = settings();

    int baud = 0;
    for (int i = 0; i < 6; ++i) {
        if (s.baudrate == ui::kBaudRates[i]) baud = i;
    }
    findChild<QRadioButton*>(ui::kBaudRadios[baud])->setChecked(true);

    int connect = s.connect_kind == kConnectUsb ? 3 : s.connect_kind == kConnectIrda ? 1 : 0;
    if (s.modem) connect = 2;
    findChild<QRadioButton*>(ui::kConnectRadios[connect])->setChecked(true);

    for (int n = 1; n <= 16; ++n) {
        std::string entry = port_table_entry(n);
        ui_->comPort_351->addItem(
            QString::fromStdString(entry.empty() ? strformat("COM%d", n) : entry));
    }
    std::string current = port_table_entry(s.commport);
    if (!s.commport_device.empty() && port_table_device(s.commport) != s.commport_device) {
        current = s.commport_device;  // a device path not in the table under this number
        for (int n = 1; n < kPortTableSize; ++n) {
            if (port_table_device(n) == s.commport_device) current = port_table_entry(n);
        }
    }
    if (current.empty()) current = strformat("COM%d", s.commport);
    ui_->comPort_351->setEditText(QString::fromStdString(current));

    for (int delay : kDelays) ui_->interCharDelay_352->addItem(QString::number(delay));
    ui_->interCharDelay_352->setEditText(QString::number(s.interchardelay));

    ui_->debug_441->setChecked(log_state().verbosity == 2);
    ui_->logFile_442->setChecked(log_state().mode != 0);
    ui_->altPortRead_443->setChecked(s.altread);
    ui_->smallBlock_444->setChecked(g_small_block);
    ui_->activateLoad_445->setChecked(server_state().activate_load);
    if (!s.workdir.empty()) {
        ui_->workingDir_206->setText(QString::fromStdString("Working Dir: " + s.workdir));
    }
}

ConnectChoice ConnectDialog::choice() const {
    ConnectChoice c;
    for (int i = 3; i >= 0; --i) {
        if (findChild<QRadioButton*>(ui::kConnectRadios[i])->isChecked()) c.connect = i;
    }
    for (int i = 5; i >= 0; --i) {
        if (findChild<QRadioButton*>(ui::kBaudRadios[i])->isChecked()) c.baud = i;
    }
    c.port_text = ui_->comPort_351->currentText().toStdString();
    c.delay_text = ui_->interCharDelay_352->currentText().toStdString();
    c.debug = ui_->debug_441->isChecked();
    c.log_file = ui_->logFile_442->isChecked();
    c.alt_read = ui_->altPortRead_443->isChecked();
    c.small_block = ui_->smallBlock_444->isChecked();
    c.activate_load = ui_->activateLoad_445->isChecked();
    return c;
}

// The port box takes what its list offers, a port name (COM7), a port
// number (7) or a device path; the delay box a positive number of
// milliseconds. Anything else would be read as some other port or as a
// delay of 0 that breaks every frame: it is refused, naming the box.
void ConnectDialog::accept() {
    const QString port = ui_->comPort_351->currentText().trimmed();
    if (!port_text_valid(port, *ui_->comPort_351)) {
        refuse(ui_->comPort_351,
               "ComPort: \"" + port.toStdString() +
                   "\" is not a port.\r\nEnter a port name (COM1), a port number or a device "
                   "path (/dev/ttyUSB0).");
        return;
    }
    if (!delay_text_valid(ui_->interCharDelay_352->currentText().trimmed())) {
        refuse(ui_->interCharDelay_352,
               "InterCharDelay: enter a positive number of milliseconds (for example 125).");
        return;
    }
    done(apply_connect_choice(choice()));
}

void ConnectDialog::refuse(QComboBox* box, const std::string& text) {
    show_message_box(this, text, "Connect", Buttons::kOk, Icon::kWarning);
    box->setFocus();
    if (box->lineEdit() != nullptr) box->lineEdit()->selectAll();
}

bool port_text_valid(const QString& text, const QComboBox& list) {
    if (text.isEmpty()) return false;
    if (list.findText(text) >= 0) return true;
    if (text.startsWith('/')) return text.size() > 1 && !text.contains(QRegularExpression("\\s"));
    static const QRegularExpression port("^(COM)?([1-9][0-9]{0,2})$",
                                         QRegularExpression::CaseInsensitiveOption);
    return port.match(text).hasMatch();
}

bool delay_text_valid(const QString& text) {
    static const QRegularExpression number("^[0-9]{1,9}$");
    return number.match(text).hasMatch() && text.toInt() > 0;
}

int run_connect_dialog(QWidget* parent) {
    ConnectDialog dialog(parent);
    return run_modal(dialog);
}

}  // namespace ql
