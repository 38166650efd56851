// The main window: commands, start-up, and the operator view.
#include "window/main_window.h"

#include <strings.h>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <mutex>
#include <system_error>

#include "foundation/log.h"
#include "foundation/server_state.h"
#include "foundation/settings.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "profile/profile.h"
#include "serial/discovery.h"
#include "ui_main_window.h"
#include "window/dialogs.h"
#include "window/ids.h"
#include "window/modal.h"

namespace ql {

namespace {

const char* const kStopFirst = "Stop Communications\r\nBefore selecting this option";

void set_text_colour(QWidget* w, const QColor& colour) {
    QPalette palette = w->palette();
    palette.setColor(QPalette::WindowText, colour);
    palette.setColor(QPalette::Text, colour);
    w->setPalette(palette);
}

bool worker_running() {
    return server_state().worker_running;
}

// True when there is no settings file worth using: missing, empty, or
// without a port in section setup.
bool settings_file_unusable() {
    const std::string& path = server_paths().settings_path;
    if (platform::file_size(path) <= 0) return true;
    std::string value;
    return profile::profile_get(path, "setup", "commport", value, "", 256) != profile::kFound;
}

// The Small Block setting is only stored; it is read once here so that the
// settings dialog shows what the file holds.
void read_small_block() {
    std::string value;
    profile::profile_get(server_paths().settings_path, "setup", "smallblock", value, "", 256);
    set_small_block_setting(value.size() >= 3 && ::strncasecmp(value.c_str(), "yes", 3) == 0);
}

}  // namespace

MainWindow::MainWindow(WindowOptions options, QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::MainDialog>()), options_(std::move(options)) {
    ui_->setupUi(this);
    bitmap_ = quaylink_bitmap();
    ui_->bitmap_101->setPixmap(bitmap_);

    set_text_colour(ui_->statusLine_208, Qt::red);
    set_text_colour(ui_->networkStatus_212, Qt::blue);
    update_bar_colour();
    connect_buttons();
    ui_->progressBar_207->installEventFilter(this);
    ui_->progressTitle_200->installEventFilter(this);
    for (QWidget* line : {ui_->portLine_209, ui_->baudLine_210, ui_->connectLine_211}) {
        line->installEventFilter(this);
    }
    keyboard_conventions(this);
    // Placed before the native window exists, the position is the frame's:
    // the title bar lands 10 pixels below the top of the desktop.
    adjustSize();
    place_on_screen();
    set_operator_view(this);
}

MainWindow::~MainWindow() {
    stop_and_join_worker();
    set_operator_view(nullptr);
}

void MainWindow::connect_buttons() {
    const std::pair<QPushButton*, int> buttons[] = {
        {ui_->settings_301, ui::kCmdSettings},   {ui_->clear_302, ui::kCmdClear},
        {ui_->load_305, ui::kCmdLoad},           {ui_->about_304, ui::kCmdAbout},
        {ui_->startStop_309, ui::kCmdStartStop}, {ui_->exit_2, ui::kCmdExit},
    };
    for (auto [button, id] : buttons) {
        connect(button, &QPushButton::clicked, this, [this, id = id] { handle_command(id); });
    }
}

QWidget* MainWindow::item(int id) const {
    for (const auto& entry : ui::kMainItems) {
        if (entry.id == id) return findChild<QWidget*>(entry.object_name);
    }
    return nullptr;
}

// ---- Start-up -------------------------------------------------------------

void MainWindow::place_on_screen() {
    QScreen* screen = this->screen() != nullptr ? this->screen() : QGuiApplication::primaryScreen();
    if (screen == nullptr) return;
    const QRect desk = screen->availableGeometry();
    move(desk.x() + (desk.width() - frameGeometry().width()) / 2, desk.y() + 10);
}

void MainWindow::initialize() {
    log_state().line_count = 0;
    status_list_add("Running Quaylink V2.28");
    if (!server_paths().relocation_note.empty()) status_list_add(server_paths().relocation_note);

    settings_reset_defaults();
    read_small_block();
    server_state().minimize_pending = options_.minimise_at_start;
    update_load_button();

    if (settings_file_unusable() && !run_first_run_setup()) {
        post_command(ui::kCmdEnd);
        return;
    }
    set_text(item::kStatusLine, "OFFLINE");
    start_worker();
    if (worker_running() && server_state().minimize_pending) {
        status_list_add("Waiting To Minimize");
        minimise_timer_ = new QTimer(this);
        minimise_timer_->setSingleShot(true);
        connect(minimise_timer_, &QTimer::timeout, this, [this] {
            if (server_state().minimize_pending) post_command(ui::kCmdMinimise);
            server_state().minimize_pending = false;
        });
        minimise_timer_->start(options_.minimise_delay_ms);
    }
}

// The cradle question (IR cradle lines), the port search and the settings
// dialog. False when the operator cancelled: the program ends.
bool MainWindow::run_first_run_setup() {
    settings_load();
    if (settings().connect_kind == kConnectIrda && ask_cradle_question(this) == 0) return false;
    status_list_add("Creating Config File " + server_paths().settings_path);
    {
        PollingDialog polling(this);
        run_modal(polling);
    }
    if (run_connect_dialog(this) != 1) return false;
    server_state().minimize_pending = false;
    return true;
}

// ---- The worker thread ------------------------------------------------------

void MainWindow::start_worker() {
    join_worker();
    server_state().worker_running = true;
    try {
        worker_ = std::thread([this] {
            options_.thread_body();
            server_state().worker_running = false;
            QMetaObject::invokeMethod(
                this, [this] { worker_ended(); }, Qt::QueuedConnection);
        });
    } catch (const std::system_error& e) {
        server_state().worker_running = false;
        show_message_box(this, strformat("Error in creating: %d", e.code().value()), "WM_CREATE",
                         Buttons::kOk, Icon::kError);
    }
}

// The thread has returned. Normally it has posted the end command itself
// when the program is to end; when it could not (a failed start after EXIT
// had been pressed), the window ends here all the same.
void MainWindow::worker_ended() {
    join_worker();
    if (!exiting_) {
        ui_->startStop_309->setEnabled(true);
        QWidget* focus = focusWidget();
        const bool parked = focus == nullptr || focus == ui_->statusList_501 || !focus->isEnabled();
        if (focus_start_when_stopped_ && parked) ui_->startStop_309->setFocus();
    }
    focus_start_when_stopped_ = false;
    if (exiting_ && !ending_) handle_command(ui::kCmdEnd);
}

void MainWindow::join_worker() {
    if (worker_.joinable() && !worker_running()) worker_.join();
}

// Raises the stop request and waits for the thread, keeping the window's
// queue moving so that the thread's own calls to the window never block.
void MainWindow::stop_and_join_worker() {
    closing_ = true;
    if (!worker_.joinable()) return;
    server_state().no_exit = true;
    server_state().stop_request = true;
    while (worker_running()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        platform::sleep_ms(5);
    }
    if (worker_.joinable()) worker_.join();  // the queue may have joined it already
}

// ---- Commands -------------------------------------------------------------

void MainWindow::handle_command(int id) {
    if (closing_) return;
    // Once the end is asked for, a click that was already queued (or a
    // button a thread enabled a moment before) must not open anything.
    if (exiting_ && id != ui::kCmdEnd && id != ui::kCmdMinimise) return;
    switch (id) {
        case ui::kCmdExit:
            request_end("Quaylink Ending[C]..");
            break;
        case ui::kCmdSettings:
            cmd_settings();
            break;
        case ui::kCmdClear:
            ql::status_list_clear();
            break;
        case ui::kCmdAbout:
            show_about_box(this);
            break;
        case ui::kCmdLoad:
            cmd_load();
            break;
        case ui::kCmdStartStop:
            cmd_start_stop();
            break;
        case ui::kCmdMinimise:
            setWindowState(windowState() | Qt::WindowMinimized);
            break;
        case ui::kCmdEnd:
            cmd_end();
            break;
        case ui::kCmdRestart:
            cmd_restart();
            break;
        default:
            break;
    }
}

// EXIT and the window's close button: the program ends when the worker
// thread has ended, or at once when none runs.
void MainWindow::request_end(const char* line) {
    // The end may take a few seconds while the line winds down: no button
    // may look as if it still did something meanwhile.
    for (QPushButton* button : {ui_->settings_301, ui_->clear_302, ui_->load_305, ui_->about_304,
                                ui_->startStop_309, ui_->exit_2}) {
        disable_keeping_focus(button);
    }
    // A message box of the communication thread does not hold the end up:
    // it closes with the window, answered as by its cancelling button.
    if (worker_box_ != nullptr) worker_box_->done(QDialog::Rejected);
    status_list_add(line);
    setWindowTitle(line);
    server_state().no_exit = false;
    exiting_ = true;
    if (worker_running()) {
        server_state().stop_request = true;
    } else {
        post_command(ui::kCmdEnd);
    }
}

void MainWindow::cmd_settings() {
    server_state().no_exit = false;
    if (worker_running()) {
        show_message_box(this, kStopFirst, "ERROR", Buttons::kOk, Icon::kError);
        return;
    }
    find_ports(nullptr);
    int result = run_connect_dialog(this);
    update_load_button();
    if (result != 1) return;
    int answer = show_message_box(this, "Restart Communications?", "RESTART", Buttons::kYesNo,
                                  Icon::kQuestion);
    if (answer == answer::kYes && !worker_running()) post_command(ui::kCmdRestart);
}

void MainWindow::cmd_load() {
    if (settings().modem) {
        show_message_box(this, "Load Option Not Valid For Modem Connect", "ERROR", Buttons::kOk,
                         Icon::kError);
        return;
    }
    if (worker_running()) {
        show_message_box(this, kStopFirst, "ERROR", Buttons::kOk, Icon::kError);
        return;
    }
    const std::string path = server_paths().program_dir + kLoaderName;
    int rc = options_.start_loader ? options_.start_loader(path) : -1;
    if (rc != 0) {
        show_message_box(this, strformat("Load Error\r\n%s\r\nrc = %d", path.c_str(), rc), "ERROR",
                         Buttons::kOk, Icon::kError);
    }
}

void MainWindow::cmd_start_stop() {
    if (worker_running()) {
        // Enabled again as START once the thread has ended, and given the
        // focus then: a second Return undoes the STOP instead of reaching
        // whatever button is next (EXIT).
        focus_start_when_stopped_ = true;
        disable_keeping_focus(ui_->startStop_309);
        status_list_add("Stopping Communication..");
        server_state().no_exit = true;
        server_state().stop_request = true;
    } else {
        post_command(ui::kCmdRestart);
    }
}

void MainWindow::cmd_end() {
    if (ending_) return;
    ending_ = true;
    QTimer::singleShot(options_.end_delay_ms, this, [this] {
        ended_ = true;
        done(1);
        emit ended();
    });
}

void MainWindow::cmd_restart() {
    if (worker_running() || ending_) return;
    ql::status_list_clear();
    status_list_add("Quaylink Restart");
    start_worker();
}

void MainWindow::reject() {
    handle_command(ui::kCmdExit);
}

void MainWindow::closeEvent(QCloseEvent* event) {
    event->ignore();
    if (closing_ || ending_) return;
    request_end("Quaylink Ending[X]..");
}

void MainWindow::update_load_button() {
    ui_->load_305->setEnabled(!worker_running() && server_state().activate_load);
}

// ---- Operator view ----------------------------------------------------------

void MainWindow::apply_text(int id, const QString& text) {
    if (id == item::kProgressTitle) {
        progress_title_ = text;
        show_progress_title();
        return;
    }
    QWidget* w = item(id);
    if (id == item::kPortLine || id == item::kBaudLine || id == item::kConnectLine) {
        line_texts_[id] = text;
        show_line_item(id);
        return;
    }
    if (auto* edit = qobject_cast<QLineEdit*>(w)) edit->setText(text);
    if (auto* label = qobject_cast<QLabel*>(w)) label->setText(text);
    if (auto* button = qobject_cast<QPushButton*>(w)) button->setText(text);
}

// The line items show from their start, shortened in the middle of the
// value when the item is too narrow; the whole text is in the tooltip then.
void MainWindow::show_line_item(int id) {
    auto* edit = qobject_cast<QLineEdit*>(item(id));
    if (edit == nullptr) return;
    const QString& text = line_texts_[id];
    QStyleOptionFrame option;
    option.initFrom(edit);
    const QRect area = edit->style()->subElementRect(QStyle::SE_LineEditContents, &option, edit);
    const QMargins margins = edit->textMargins();
    constexpr int kInnerMargins = 2 * 2 + 1;  // QLineEdit's own margins and the cursor
    const int room = area.width() - margins.left() - margins.right() - kInnerMargins;
    const QString shown = elide_after_label(text, edit->fontMetrics(), room);
    edit->setText(shown);
    edit->setCursorPosition(0);
    edit->setToolTip(shown == text ? QString() : text);
}

void MainWindow::set_text(int id, const std::string& text) {
    QString value = QString::fromStdString(text);
    QMetaObject::invokeMethod(
        this, [this, id, value] { apply_text(id, value); }, Qt::QueuedConnection);
}

void MainWindow::set_enabled(int id, bool enabled) {
    QMetaObject::invokeMethod(
        this,
        [this, id, enabled] {
            QWidget* w = item(id);
            if (w == nullptr) return;
            // The ending thread gives SETTINGS back; an ending window keeps it.
            if (enabled && exiting_) return;
            if (enabled) {
                w->setEnabled(true);
            } else {
                disable_keeping_focus(w);
            }
        },
        Qt::QueuedConnection);
}

// Qt hands the focus of a disabled button to the next one in the chain,
// which would make EXIT (last in the row) the target of the next Return.
// The focus waits on the status list instead, where Return does nothing.
void MainWindow::disable_keeping_focus(QWidget* w) {
    if (focusWidget() == w) ui_->statusList_501->setFocus();
    w->setEnabled(false);
}

// Lines are collected and added in batches: a thread that logs thousands of
// lines costs one update of the list, not one per line. A clear in the
// batch drops what came before it, in the order the log saw them. The list
// keeps its bound by itself as well, so that it can never grow past it even
// if lines were counted before this window existed.
void MainWindow::queue_list_change(bool clear, const QString& line) {
    bool schedule = false;
    {
        std::lock_guard<std::mutex> lock(list_mutex_);
        if (clear) {
            pending_lines_.clear();
            pending_clear_ = true;
        } else {
            pending_lines_.push_back(line);
        }
        schedule = !list_flush_queued_;
        list_flush_queued_ = true;
    }
    if (schedule) {
        QMetaObject::invokeMethod(
            this, [this] { flush_list(); }, Qt::QueuedConnection);
    }
}

void MainWindow::flush_list() {
    QStringList lines;
    bool clear = false;
    {
        std::lock_guard<std::mutex> lock(list_mutex_);
        lines.swap(pending_lines_);
        clear = pending_clear_;
        pending_clear_ = false;
        list_flush_queued_ = false;
    }
    QListWidget* list = ui_->statusList_501;
    if (clear) list->clear();
    if (lines.size() > kStatusListMax) lines = lines.mid(lines.size() - kStatusListMax);
    const int excess = list->count() + static_cast<int>(lines.size()) - kStatusListMax;
    if (excess > 0) list->model()->removeRows(0, excess);
    if (lines.isEmpty()) return;
    list->addItems(lines);
    list->setCurrentRow(list->count() - 1);
    list->scrollToBottom();
}

void MainWindow::status_list_append(const std::string& line, bool drop_oldest) {
    (void)drop_oldest;
    queue_list_change(false, QString::fromStdString(line));
}

void MainWindow::status_list_clear() {
    queue_list_change(true, QString());
}

int MainWindow::message_box(const std::string& text, const std::string& caption, Buttons buttons,
                            Icon icon) {
    if (closing_) return answer::kOk;
    if (QThread::currentThread() == thread()) {
        return show_message_box(this, text, caption, buttons, icon);
    }
    // The thread's boxes leave the window usable: EXIT (or the close box)
    // while one is open ends the program and closes the box with it.
    int result = answer::kOk;
    QMetaObject::invokeMethod(
        this,
        [&] {
            if (closing_ || exiting_) return;
            result = show_modeless_message_box(this, text, caption, buttons, icon,
                                               [this](QDialog* box) { worker_box_ = box; });
        },
        Qt::BlockingQueuedConnection);
    return result;
}

void MainWindow::post_command(int command) {
    QMetaObject::invokeMethod(
        this, [this, command] { handle_command(command); }, Qt::QueuedConnection);
}

void MainWindow::set_network_flag(bool on) {
    network_ = on;
    QMetaObject::invokeMethod(
        this, [this] { update_bar_colour(); }, Qt::QueuedConnection);
}

void MainWindow::update_bar_colour() {
    set_text_colour(ui_->progressBar_207, network_ ? Qt::red : Qt::blue);
}

// As many "=" as fit the bar item exactly, so that a full bar means 100 %.
void MainWindow::update_bar_width() {
    bar_chars_ = bar_chars_for(*ui_->progressBar_207);
}

void MainWindow::show_progress_title() {
    QLabel* title = ui_->progressTitle_200;
    title->setText(
        elide_progress_title(progress_title_, title->fontMetrics(), title->contentsRect().width()));
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    const bool size_or_font =
        event->type() == QEvent::Resize || event->type() == QEvent::FontChange;
    if (size_or_font && watched == ui_->progressBar_207) update_bar_width();
    if (size_or_font && watched == ui_->progressTitle_200) show_progress_title();
    if (size_or_font) {
        for (int id : {item::kPortLine, item::kBaudLine, item::kConnectLine}) {
            if (watched == item(id)) show_line_item(id);
        }
    }
    return QDialog::eventFilter(watched, event);
}

void MainWindow::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    update_bar_width();
}

int bar_chars_for(const QLabel& bar) {
    const QFontMetrics metrics = bar.fontMetrics();
    const int room = bar.contentsRect().width() - 2 * std::max(bar.margin(), 0);
    const int one = metrics.horizontalAdvance('=');
    if (room <= 0 || one <= 0) return 0;
    // Advances may carry fractions: the run itself decides.
    int count = room / one;
    while (metrics.horizontalAdvance(QString(count + 1, '=')) <= room) ++count;
    while (count > 0 && metrics.horizontalAdvance(QString(count, '=')) > room) --count;
    return count;
}

// "SENDING: /a/long/folder/NAME.TXT : 1234": the kind and the byte count
// always show whole. The folder gives way first (down to "..." and its last
// separator, so that a cut folder is always marked); a name too long by
// itself is then cut in its middle.
QString elide_progress_title(const QString& title, const QFontMetrics& metrics, int width) {
    if (width <= 0 || metrics.horizontalAdvance(title) <= width) return title;
    const qsizetype count_at = title.lastIndexOf(" : ");
    if (count_at < 0) return metrics.elidedText(title, Qt::ElideMiddle, width);
    const qsizetype kind_end = title.indexOf(": ");
    const qsizetype path_at = (kind_end >= 0 && kind_end < count_at) ? kind_end + 2 : 0;
    const qsizetype name_at = std::max({title.lastIndexOf('/', count_at),
                                        title.lastIndexOf('\\', count_at), path_at - 1}) +
                              1;
    const QString kind = title.left(path_at);
    const QString folder = title.mid(path_at, name_at - path_at);
    const QString name = title.mid(name_at, count_at - name_at);
    const QString count = title.mid(count_at);
    const QString dots(QChar(0x2026));
    const int room = width - metrics.horizontalAdvance(kind) - metrics.horizontalAdvance(count);
    const QString marker = folder.isEmpty() ? QString() : dots + folder.right(1);
    if (metrics.horizontalAdvance(marker + name) <= room) {
        QString shown =
            metrics.elidedText(folder, Qt::ElideMiddle, room - metrics.horizontalAdvance(name));
        if (shown.isEmpty()) shown = marker;
        return kind + shown + name + count;
    }
    const int name_room =
        std::max(room - metrics.horizontalAdvance(marker), metrics.horizontalAdvance(dots));
    QString short_name = metrics.elidedText(name, Qt::ElideMiddle, name_room);
    if (short_name.isEmpty()) short_name = dots;
    return kind + marker + short_name + count;
}

// "PORT:  /dev/serial/by-id/usb-...": the label stays whole and the value
// gives way in its middle, where two device paths differ least.
QString elide_after_label(const QString& text, const QFontMetrics& metrics, int width) {
    if (width <= 0 || metrics.horizontalAdvance(text) <= width) return text;
    qsizetype value_at = text.indexOf(':');
    if (value_at < 0) return metrics.elidedText(text, Qt::ElideMiddle, width);
    ++value_at;
    while (value_at < text.size() && text[value_at] == ' ') ++value_at;
    const QString label = text.left(value_at);
    const int room = std::max(width - metrics.horizontalAdvance(label),
                              metrics.horizontalAdvance(QChar(0x2026)));
    return label + metrics.elidedText(text.mid(value_at), Qt::ElideMiddle, room);
}

}  // namespace ql
