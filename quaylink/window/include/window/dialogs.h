// The dialogs of the operator window: the first-run cradle question and port
// search, the settings dialog "Connect" and the about box.
#pragma once

#include <QDialog>
#include <QString>
#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "serial/discovery.h"

#include "widgets/keyboard.h"

class QComboBox;
class QLabel;
class QPushButton;

namespace Ui {
class ConnectDialog;
class PollingDialog;
}  // namespace Ui

namespace ql {

// The cradle question "Setup Initialization": OK stores the "Search For
// Cradle" tick as the cradle search request and returns 1; Cancel returns 0.
int ask_cradle_question(QWidget* parent);

// The about box: version line, the program's picture, Details and OK.
void show_about_box(QWidget* parent);

// "Line Details": the line's state and counters since the start (the
// figures of the status file), refreshed every second while open.
void show_line_details(QWidget* parent);

// The port search dialog "Setup Initialization". Opening it starts the
// cradle-search thread (the worker thread while it runs) with OK disabled;
// the end of the search enables OK and shows "Search Complete". Esc and the
// close button do nothing while the search runs.
class PollingDialog final : public QDialog, public SearchDialog {
    Q_OBJECT
  public:
    explicit PollingDialog(QWidget* parent = nullptr);
    ~PollingDialog() override;

    // SearchDialog, called from the search thread.
    void show_text(int item, const std::string& text) override;
    void post_command(int command) override;

    void done(int result) override;

  protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    void search_ended();
    void join_search();

    std::unique_ptr<Ui::PollingDialog> ui_;
    std::thread search_;
    std::atomic<bool> running_{false};
    bool started_ = false;
};

// What the operator chose in the settings dialog, as the OK rules read it.
struct ConnectChoice {
    int connect = -1;  // 0 DIRECT, 1 CRADLE, 2 MODEM, 3 USB VCOM; -1 none ticked
    int baud = -1;     // index into 9600 ... 115200; -1 none ticked
    std::string port_text;
    std::string delay_text;
    bool debug = false;
    bool log_file = false;
    bool alt_read = false;
    bool small_block = false;
    bool activate_load = false;
};

// Carries out OK of the settings dialog: changes the in-memory settings and
// writes the changed keys (every key when the settings file is new or has
// no port) to section setup. Returns 1 when no worker thread runs or at
// least one counted write succeeded, else 0.
int apply_connect_choice(const ConnectChoice& choice);

// The Small Block setting: stored in the file, read once at start-up.
bool small_block_setting();
void set_small_block_setting(bool on);

// The settings dialog "Connect", filled from the in-memory settings and the
// port table. OK applies the choice and ends with its result; Cancel ends
// with 0 and changes nothing.
class ConnectDialog final : public QDialog {
    Q_OBJECT
  public:
    explicit ConnectDialog(QWidget* parent = nullptr);
    ~ConnectDialog() override;

    // The state of the controls.
    ConnectChoice choice() const;

    void accept() override;

  private:
    void fill_from_settings();
    // Shows why the box's text was refused and puts the focus back there.
    void refuse(QComboBox* box, const std::string& text);

    std::unique_ptr<Ui::ConnectDialog> ui_;
};

// "Serial ports seen: COM1, COM5 (/dev/ttyUSB0)" from the port table, or
// "Serial ports seen: none": the port search's report when it found no
// cradle bridge.
std::string ports_seen_line();

// What the settings dialog's boxes take: a port entry of the list, COM<n>,
// a number or a device path; a delay of 1 ms or more.
bool port_text_valid(const QString& text, const QComboBox& list);
bool delay_text_valid(const QString& text);

// Runs the settings dialog; returns its result (1 or 0).
int run_connect_dialog(QWidget* parent);

// The platform's keyboard manners in a dialog (see widgets/keyboard.h).
using widgets::keyboard_conventions;

}  // namespace ql
