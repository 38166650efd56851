// The Windows build's files as Explorer shows them: every program and
// window module carries its version resource, and every program its icon
// (also the windows' title-bar icon) and its manifest.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/files.h"

namespace {

struct Expected {
    const char* file;
    const char* version;  // FileVersion, as text and as the fixed numbers
    bool program;         // icon and manifest as well
    bool window;          // built only with a Qt for Windows
};

const Expected kFiles[] = {
    {"quaylink.exe", "2.28", true, false},        {"rowsmith.exe", "1.01", true, false},
    {"formwright.exe", "2.02", true, true},       {"quaylink_window.dll", "2.28", false, true},
    {"rowsmith_window.dll", "1.01", false, true},
};

#ifdef QL_WITH_WINDOWS
constexpr bool kWithWindows = true;
#else
constexpr bool kWithWindows = false;
#endif

std::wstring wide(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

std::string folder_of_tests() {
    std::string path = platform::executable_path();
    return path.substr(0, path.find_last_of("\\/") + 1);
}

// One string of the version resource's US English, Unicode block.
std::string version_string(const std::vector<char>& block, const wchar_t* name) {
    std::wstring key = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
    wchar_t* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(block.data(), key.c_str(), reinterpret_cast<void**>(&value), &length) ||
        length == 0)
        return {};
    std::wstring text(value, length - 1);
    return std::string(text.begin(), text.end());
}

TEST(WindowsResources, ProgramsAndModulesCarryVersionIconAndManifest) {
    for (const Expected& expected : kFiles) {
        SCOPED_TRACE(expected.file);
        std::wstring path = wide(folder_of_tests() + expected.file);
        if (expected.window && !kWithWindows) continue;
        ASSERT_NE(GetFileAttributesW(path.c_str()), INVALID_FILE_ATTRIBUTES) << "missing";
        DWORD size = GetFileVersionInfoSizeW(path.c_str(), nullptr);
        ASSERT_GT(size, 0u);
        std::vector<char> block(size);
        ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, block.data()));
        EXPECT_EQ(version_string(block, L"FileVersion"), expected.version);
        EXPECT_EQ(version_string(block, L"ProductName"), "Quaylink suite");
        EXPECT_EQ(version_string(block, L"ProductVersion"), "2.28");
        EXPECT_EQ(version_string(block, L"CompanyName"), "Quaylink developers");
        VS_FIXEDFILEINFO* fixed = nullptr;
        UINT length = 0;
        ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
        const int minor = LOWORD(fixed->dwFileVersionMS);
        std::string numbers = std::to_string(HIWORD(fixed->dwFileVersionMS)) + "." +
                              (minor < 10 ? "0" : "") + std::to_string(minor);
        EXPECT_EQ(numbers, expected.version);

        HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(module, nullptr);
        bool manifest = FindResourceA(module, MAKEINTRESOURCEA(1), RT_MANIFEST) != nullptr;
        bool icon = FindResourceA(module, "IDI_ICON1", RT_GROUP_ICON) != nullptr;
        FreeLibrary(module);
        EXPECT_EQ(manifest, expected.program);
        EXPECT_EQ(icon, expected.program);
    }
}

}  // namespace
