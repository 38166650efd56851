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
    return 0;
}

}  // namespace platform
