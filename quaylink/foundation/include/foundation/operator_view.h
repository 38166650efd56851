// The operator view: the one seam through which every part of the server
// reaches the main window.
//
// Implementations: the Qt main window, the console output of --console, and
// a recording fake in the tests. Every call may come from any thread; each
// implementation delivers the change to its own thread (the Qt window queues
// it) and never blocks on the caller's locks. Only message_box waits, for
// the operator's answer.
#pragma once

#include <string>

namespace ql {

// Item identifiers of the main window.
namespace item {
inline constexpr int kProgressTitle = 200;    // "Xmit Status" title line
inline constexpr int kProgressPercent = 201;  // percentage line
inline constexpr int kWorkingDir = 206;       // settings dialog: "Working Dir: %s"
inline constexpr int kProgressBar = 207;      // bar of '='
inline constexpr int kStatusLine = 208;       // "READY", "OFFLINE", the command word
inline constexpr int kPortLine = 209;         // "PORT:  COM%d"
inline constexpr int kBaudLine = 210;         // "BAUD:  %d"
inline constexpr int kConnectLine = 211;      // "CONNECT:  Direct" ...
inline constexpr int kNetworkStatus = 212;    // "FTP %s", "IP %s"
inline constexpr int kSettingsButton = 301;
inline constexpr int kLoadButton = 305;
inline constexpr int kStartStopButton = 309;
inline constexpr int kStatusList = 501;
}  // namespace item

// Commands posted to the main window.
namespace command {
inline constexpr int kExit = 505;     // communication ended: end the program after 250 ms
inline constexpr int kRestart = 506;  // empty the list, start the communication thread
}  // namespace command

enum class Buttons { kOk, kOkCancel, kYesNo, kYesNoCancel };
enum class Icon { kNone, kInformation, kWarning, kError, kQuestion };

// Answers of message_box (the values of the Windows dialog results).
namespace answer {
inline constexpr int kOk = 1;
inline constexpr int kCancel = 2;
inline constexpr int kYes = 6;
inline constexpr int kNo = 7;
}  // namespace answer

class OperatorView {
public:
    virtual ~OperatorView() = default;

    // Sets the text (or a button's caption) of an item.
    virtual void set_text(int item, const std::string& text) = 0;

    // Enables or disables an item (buttons 301, 305, 309).
    virtual void set_enabled(int item, bool enabled) = 0;

    // Appends one line to the status list and selects it; when drop_oldest
    // is set the first line is removed first. The bound is kept by the log.
    virtual void status_list_append(const std::string& line, bool drop_oldest) = 0;

    // Empties the status list.
    virtual void status_list_clear() = 0;

    // Shows a modal message box and returns the answer (answer::k...).
    virtual int message_box(const std::string& text, const std::string& caption, Buttons buttons,
                            Icon icon) = 0;

    // Posts a command (command::k...) to the window; returns at once.
    virtual void post_command(int command) = 0;

    // How many "=" fill the progress bar item exactly: the bar is full at
    // 100 % and not before. Asked at the start of a transfer and at each
    // count, so it may change while a transfer runs.
    virtual int bar_width_chars() = 0;

    // Network transfer in progress: the bar item turns red while it is set.
    virtual void set_network_flag(bool on) { (void)on; }
};

// The process-wide view. Never null: until a window or console installs
// itself, a view that discards everything (message boxes answer OK) is used.
OperatorView& operator_view();

// Installs a view (nullptr restores the discarding one). Call it before
// other threads start; the caller keeps ownership.
void set_operator_view(OperatorView* view);

}  // namespace ql
