// Which names stand on their own: a settings file named on the command line
// is taken as given when absolute, else looked for in the program's folder.
#include <gtest/gtest.h>

#include "platform/files.h"
#include "platform/paths.h"

namespace {

bool on_windows() {
    return platform::dir_separator() == '\\';
}

TEST(AbsolutePath, RootedNamesOnEveryPlatform) {
    EXPECT_TRUE(platform::is_absolute_path("/etc/quaylink/cradle1.ini"));
    EXPECT_TRUE(platform::is_absolute_path("/"));
    for (const char* relative : {"", "quaylink.ini", "sub/other.ini", "./x.ini", "../x.ini"})
        EXPECT_FALSE(platform::is_absolute_path(relative)) << relative;
}

TEST(AbsolutePath, DrivesAndServerNamesOnlyOnWindows) {
    // A drive letter, a UNC name, a device name and the current drive's
    // root; on POSIX each is a plain (if odd) relative name.
    for (const char* name : {"C:\\sites\\cradle1.ini", "z:/tmp/ql.ini", "D:relative.ini",
                             "\\\\pc\\share\\ql.ini", "\\\\.\\COM3", "\\root.ini"})
        EXPECT_EQ(platform::is_absolute_path(name), on_windows()) << name;
    // Not a drive: a digit, or a colon later on.
    for (const char* name : {"1:x.ini", "ab:c.ini", ":x"})
        EXPECT_FALSE(platform::is_absolute_path(name)) << name;
}

TEST(DirSeparator, SlashEverywhereBackslashOnlyOnWindows) {
    EXPECT_TRUE(platform::is_dir_separator('/'));
    EXPECT_TRUE(platform::is_dir_separator(platform::dir_separator()));
    EXPECT_EQ(platform::is_dir_separator('\\'), on_windows());
    EXPECT_FALSE(platform::is_dir_separator(':'));
}

}  // namespace
