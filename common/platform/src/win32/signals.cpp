// Windows implementation of platform/signals.h on a console control
// handler. The system calls the handler on a thread it makes for each
// event; the handlers are run one at a time.
#include "platform/signals.h"

#include <windows.h>

#include <mutex>

#include "win32_support.h"

namespace platform {

namespace {

std::mutex g_mutex;  // one request at a time, like the POSIX watcher thread
std::function<void()> g_handler;
bool g_installed = false;
bool g_service = false;       // running under the service manager
bool g_service_stop = false;  // the service manager asked to stop: it stands

// How long a close, logoff or shutdown event waits for the program to end
// by itself after the handler ran; the system ends it on returning (and in
// any case after its own grace period of about 5 seconds).
constexpr DWORD kCloseGraceMs = 4500;

BOOL WINAPI on_console_event(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            break;
        default:
            return FALSE;
    }
    // A service hears of every user's log-off here and must live on; its
    // shutdown comes as a control of the service manager. Handled (TRUE),
    // so that the default handler does not end the process.
    if (event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
        std::lock_guard<std::mutex> lock(g_mutex);
        if (g_service) return TRUE;
    }
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        if (g_handler) g_handler();
    }
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) Sleep(kCloseGraceMs);
    return TRUE;
}

}  // namespace

int on_termination_request(std::function<void()> handler) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_handler = std::move(handler);
    if (!g_installed) {
        if (!SetConsoleCtrlHandler(on_console_event, TRUE)) return win32::last_win32_errno();
        g_installed = true;
    }
    // A stop that came while no handler was set (between two runs of the
    // server in one service) must not be lost.
    if (g_service_stop && g_handler) g_handler();
    return 0;
}

void win32::set_service_mode() {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_service = true;
}

void win32::raise_termination_request() {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_service_stop = true;
    if (g_handler) g_handler();
}

}  // namespace platform
