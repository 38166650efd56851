// The main window "Main" of the communications server: it starts and stops
// the communication thread, shows the line state, the transfer progress and
// the status list, and opens the settings, the about box and the loader.
//
// It is the process-wide operator view while it exists. Calls from other
// threads are queued to the window's thread, so no caller ever waits for the
// window while holding a lock; only message_box waits for the operator.
#pragma once

#include <QDialog>
#include <QPixmap>
#include <QStringList>
#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "foundation/operator_view.h"

class QFontMetrics;
class QLabel;
class QTimer;

namespace Ui {
class MainDialog;
}

namespace ql {

struct WindowOptions {
    // Body of the communication thread (the real one: communication_thread).
    std::function<void()> thread_body;
    // Starts the loader program at path without waiting; 0 when it started,
    // else the result shown in "Load Error".
    std::function<int(const std::string& path)> start_loader;
    // -Z: minimise the window this long after the start.
    bool minimise_at_start = false;
    int minimise_delay_ms = 5000;
    // Pause between the end command and the end of the window.
    int end_delay_ms = 250;
};

// File name of the external loader in the program directory.
inline constexpr const char* kLoaderName = "termload";

class MainWindow final : public QDialog, public OperatorView {
    Q_OBJECT
  public:
    explicit MainWindow(WindowOptions options, QWidget* parent = nullptr);
    // Stops a running worker thread and waits for it.
    ~MainWindow() override;

    // Window creation: status list start lines, defaults, the first-run
    // set-up when there is no usable settings file, then the communication
    // thread. Call once, after show().
    void initialize();

    // Carries out a command (button identifier, or 310, 505, 506).
    void handle_command(int id);

    // The widget of an item identifier (nullptr when unknown).
    QWidget* item(int id) const;

    // True once the window has ended (the end command ran its course).
    bool has_ended() const { return ended_; }

    // OperatorView: safe from any thread.
    void set_text(int item, const std::string& text) override;
    void set_enabled(int item, bool enabled) override;
    void status_list_append(const std::string& line, bool drop_oldest) override;
    void status_list_clear() override;
    int message_box(const std::string& text, const std::string& caption, Buttons buttons,
                    Icon icon) override;
    void post_command(int command) override;
    int bar_width_chars() override { return bar_chars_; }
    void set_network_flag(bool on) override;

  signals:
    // The window ended with the end command (after its pause).
    void ended();

  protected:
    void reject() override;  // Esc: EXIT
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void connect_buttons();
    void place_on_screen();
    bool run_first_run_setup();
    void start_worker();
    void worker_ended();
    void join_worker();
    void stop_and_join_worker();
    void apply_text(int item, const QString& text);
    void queue_list_change(bool clear, const QString& line);
    void flush_list();
    void update_bar_colour();
    void update_bar_width();
    void show_progress_title();
    void show_line_item(int id);
    void update_load_button();
    void request_end(const char* line);
    void disable_keeping_focus(QWidget* w);

    void cmd_settings();
    void cmd_load();
    void cmd_start_stop();
    void cmd_end();
    void cmd_restart();

    std::unique_ptr<Ui::MainDialog> ui_;
    WindowOptions options_;
    QPixmap bitmap_;
    std::thread worker_;
    QTimer* minimise_timer_ = nullptr;
    std::atomic<int> bar_chars_{40};
    std::atomic<bool> network_{false};
    std::mutex list_mutex_;  // held only to hand lines over, never across a wait
    QStringList pending_lines_;
    QString progress_title_;             // the whole title; the item shows it elided
    std::map<int, QString> line_texts_;  // port, baud, connection: whole texts
    bool pending_clear_ = false;
    bool list_flush_queued_ = false;
    std::atomic<bool> closing_{false};  // being destroyed: no more boxes
    bool exiting_ = false;              // EXIT or close: end when the worker ends
    bool ending_ = false;               // the end command is running
    bool ended_ = false;
    bool focus_start_when_stopped_ = false;  // STOP asked: START takes the focus
    QDialog* worker_box_ = nullptr;          // the thread's message box while open
};

// The number of "=" that fill the bar item exactly at its width and font.
int bar_chars_for(const QLabel& bar);

// The progress title shortened to width pixels: the kind and the byte count
// stay whole; the folder gives way first, down to a marked "..." and its
// separator, then the middle of the file name (the text may stay wider than
// width only when the kind and the count alone are).
QString elide_progress_title(const QString& title, const QFontMetrics& metrics, int width);

// "LABEL:  value" shortened to width pixels in the middle of the value; the
// label stays whole.
QString elide_after_label(const QString& text, const QFontMetrics& metrics, int width);

// The window's picture (resource 101 of the original layout): a terminal in
// its cradle, drawn here.
QPixmap quaylink_bitmap();

}  // namespace ql
