// Windows implementation of platform/process.h on CreateProcessW. No handle
// of the server is inherited by a started program.
#include "platform/process.h"

#include <windows.h>

#include <cctype>
#include <cerrno>

#include "win32_support.h"

namespace platform {

using win32::widen;

namespace {

// One argument as the C runtime of the started program splits it again:
// quoted when it holds blanks or quotes or is empty; a quote inside is
// escaped with a backslash, and the backslashes right before a quote (or
// before the closing quote) are doubled.
std::string quote_argument(const std::string& arg) {
    if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos) return arg;
    std::string out = "\"";
    size_t backslashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        if (c == '"') {
            out.append(backslashes * 2 + 1, '\\');
        } else {
            out.append(backslashes, '\\');
        }
        backslashes = 0;
        out += c;
    }
    out.append(backslashes * 2, '\\');
    return out + "\"";
}

// The program's own name is split without backslash escapes (up to the
// next quote), so it cannot carry a quote at all: quotes are left out.
std::string quote_program_name(const std::string& name) {
    std::string plain;
    for (char c : name) {
        if (c != '"') plain += c;
    }
    if (!plain.empty() && plain.find_first_of(" \t") == std::string::npos) return plain;
    return "\"" + plain + "\"";
}

void close_handle(Process& p) {
    if (p.handle != -1) CloseHandle(reinterpret_cast<HANDLE>(p.handle));
    p = Process{};
}

// Starts a program with the given command line, inheriting nothing.
int start(const std::wstring& program, std::wstring line, PROCESS_INFORMATION& pi) {
    STARTUPINFOW si{};
    si.cb = sizeof si;
    if (!CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &si, &pi)) {
        return win32::last_win32_errno();
    }
    CloseHandle(pi.hThread);
    return 0;
}

std::wstring command_interpreter() {
    wchar_t buf[MAX_PATH];
    DWORD n = GetEnvironmentVariableW(L"COMSPEC", buf, MAX_PATH);
    if (n > 0 && n < MAX_PATH) return std::wstring(buf, n);
    n = GetSystemDirectoryW(buf, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return L"cmd.exe";
    return std::wstring(buf, n) + L"\\cmd.exe";
}

}  // namespace

std::string win32::windows_command_line(const std::vector<std::string>& args) {
    std::string line;
    for (size_t i = 0; i < args.size(); ++i) {
        if (i > 0) line += ' ';
        line += i == 0 ? quote_program_name(args[i]) : quote_argument(args[i]);
    }
    return line;
}

int process_start(const std::string& path, const std::vector<std::string>& args, Process& out) {
    out = Process{};
    if (path.empty()) return ENOENT;
    std::vector<std::string> words = args;
    if (words.empty()) words.push_back(path);
    // The program's own name is taken as a file name, which wants '\\'.
    std::string program = path;
    for (char& c : program) {
        if (c == '/') c = '\\';
    }
    PROCESS_INFORMATION pi{};
    int err = start(widen(program), widen(win32::windows_command_line(words)), pi);
    if (err != 0) return err;
    out.pid = static_cast<int>(pi.dwProcessId);
    out.handle = reinterpret_cast<std::intptr_t>(pi.hProcess);
    return 0;
}

int process_start_held(FileHandle program, const std::string& name,
                       const std::vector<std::string>& args, Process& out) {
    out = Process{};
    // The handle shares no writing or deleting: the file at its final path
    // is the one checked for as long as it is held, here until the start.
    std::string path = program == kNoFile ? std::string() : win32::final_path(program);
    if (path.empty()) return EBADF;
    std::vector<std::string> words = args;
    if (words.empty()) words.push_back(name);
    PROCESS_INFORMATION pi{};
    int err = start(widen(path), widen(win32::windows_command_line(words)), pi);
    if (err != 0) return err;
    out.pid = static_cast<int>(pi.dwProcessId);
    out.handle = reinterpret_cast<std::intptr_t>(pi.hProcess);
    return 0;
}

int process_wait(Process& p, uint32_t timeout_ms, int& exit_code) {
    if (p.pid <= 0 || p.handle == -1) {
        close_handle(p);
        return kProcessWaitFailed;
    }
    HANDLE h = reinterpret_cast<HANDLE>(p.handle);
    // INFINITE is 0xFFFFFFFF: a wait of that length is one millisecond less.
    DWORD r = WaitForSingleObject(h, timeout_ms == INFINITE ? INFINITE - 1 : timeout_ms);
    if (r == WAIT_TIMEOUT) return kProcessRunning;
    DWORD code = 0;
    bool ended = r == WAIT_OBJECT_0 && GetExitCodeProcess(h, &code);
    close_handle(p);
    if (!ended) return kProcessWaitFailed;
    exit_code = static_cast<int>(code);
    return kProcessEnded;
}

void process_release(Process& p) {
    // Windows keeps nothing of an ended program once its handle is closed.
    close_handle(p);
}

int run_command_line(const std::string& line) {
    std::wstring shell = command_interpreter();
    // /s: the interpreter takes everything between the first and the last
    // quote as the command, whatever quotes the line holds itself.
    std::wstring command = L"\"" + shell + L"\" /s /c \"" + widen(line) + L"\"";
    PROCESS_INFORMATION pi{};
    if (start(shell, command, pi) != 0) return -1;
    DWORD code = 0;
    bool ok = WaitForSingleObject(pi.hProcess, INFINITE) == WAIT_OBJECT_0 &&
              GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hProcess);
    return ok ? static_cast<int>(code) : -1;
}

int run_command_line_held(FileHandle program, const std::string& rest) {
    // Held (by the caller) until the interpreter is done: the final path
    // names the checked file throughout.
    std::string path = program == kNoFile ? std::string() : win32::final_path(program);
    if (path.empty()) return -1;
    return run_command_line(command_line_word(path) + " " + rest);
}

std::string command_line_word(const std::string& word) {
    bool plain = !word.empty();
    for (char c : word) {
        bool ok = std::isalnum(static_cast<unsigned char>(c)) || c == '\\' || c == '/' ||
                  c == '.' || c == '_' || c == '-' || c == '+' || c == ',' || c == ':' || c == '@';
        if (!ok) plain = false;
    }
    if (plain) return word;
    // Inside double quotes the interpreter keeps & | < > ^ ( ) and blanks as
    // they are. The program's runtime splits the line again: for it,
    // backslashes right before the closing quote are doubled.
    std::string out = "\"";
    for (char c : word) {
        if (c != '"') out += c;
    }
    size_t run = out.size() - out.find_last_not_of('\\') - 1;
    out.append(run, '\\');
    return out + "\"";
}

}  // namespace platform
