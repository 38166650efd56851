// Windows implementation of platform/module.h.
#include "platform/module.h"

#include <windows.h>

#include "platform_shared.h"
#include "win32_support.h"

#ifndef QL_MODULE_RELDIR
#define QL_MODULE_RELDIR "..\\lib\\quaylink"
#endif

namespace platform {

namespace {

std::string system_message(DWORD code) {
    wchar_t* text = nullptr;
    DWORD n = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string out;
    if (n > 0 && text != nullptr) {
        out = win32::narrow(std::wstring(text, n));
        while (!out.empty() && (out.back() == '\r' || out.back() == '\n' || out.back() == ' ')) {
            out.pop_back();
        }
    }
    if (text != nullptr) LocalFree(text);
    return out.empty() ? "error " + std::to_string(code) : out;
}

// The absolute form without "." and "..", as the altered search path needs.
std::wstring full_path(const std::string& file) {
    std::wstring wide = win32::widen(file);
    DWORD n = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (n == 0) return wide;
    std::wstring out(n, L'\0');
    n = GetFullPathNameW(wide.c_str(), n, out.data(), nullptr);
    out.resize(n);
    return out;
}

}  // namespace

std::vector<std::string> module_candidates(const std::string& module) {
    std::string here = shared::folder_of_executable();
    if (here.empty()) return {};
    std::string file = module + ".dll";
    // The loader wants backslashes when it is given a search path of its own.
    std::string installed = here + QL_MODULE_RELDIR + "\\" + file;
    for (char& c : installed) {
        if (c == '/') c = '\\';
    }
    return {here + file, installed};
}

void* shared::load_module_function(const std::string& file, const char* name, std::string& why) {
    // The altered search path makes the module's own folder the first
    // place its dependencies are looked for, not the current directory.
    HMODULE library =
        LoadLibraryExW(full_path(file).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (library == nullptr) {
        why = file + ": " + system_message(GetLastError());
        return nullptr;
    }
    void* function = reinterpret_cast<void*>(GetProcAddress(library, name));
    if (function == nullptr) why = file + ": no " + name;
    return function;
}

}  // namespace platform
