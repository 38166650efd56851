#include "platform/process_info.h"

#include <windows.h>

#include "win32_support.h"

namespace platform {

int current_process_id() {
    return static_cast<int>(GetCurrentProcessId());
}

bool process_exists(int pid) {
    if (pid <= 0) return false;
    HANDLE h = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
    if (h == nullptr) {
        // Refused: the process is there but belongs to someone else (a service).
        return GetLastError() == ERROR_ACCESS_DENIED;
    }
    DWORD code = 0;
    bool alive = GetExitCodeProcess(h, &code) != 0 && code == STILL_ACTIVE;
    CloseHandle(h);
    return alive;
}

std::string line_folders_root() {
    wchar_t buffer[MAX_PATH];
    DWORD n = GetEnvironmentVariableW(L"ProgramData", buffer, MAX_PATH);
    std::string base = n > 0 && n < MAX_PATH ? win32::narrow(std::wstring(buffer, n))
                                             : std::string("C:\\ProgramData");
    return win32::join_path(base, "Quaylink");
}

bool stdout_shows_sequences() {
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (out == INVALID_HANDLE_VALUE || GetConsoleMode(out, &mode) == 0) return false;
    if ((mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0) return true;
    return SetConsoleMode(out, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

}  // namespace platform
