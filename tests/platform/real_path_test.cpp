// Where a path really leads: the existing part resolved through its links,
// the missing rest taken as written.
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/dirs.h"
#include "temp_dir.h"

namespace {

using testing_support::TempDir;

std::string real(const std::string& path) {
    std::string out;
    int rc = platform::resolve_real_path(path, out);
    return rc == 0 ? out : "error " + std::to_string(rc);
}

TEST(RealPath, LinksAreFollowedAndTheMissingRestKept) {
    TempDir dir;
    std::string base = real(dir.path());
    ASSERT_EQ(base.rfind('/', 0), 0u) << base;
    std::filesystem::create_directories(dir.file("a/b"));
    dir.write("a/file", "x");
    std::filesystem::create_directory_symlink(dir.file("a/b"), dir.file("link"));
    EXPECT_EQ(real(dir.file("a/b/../file")), base + "/a/file");
    EXPECT_EQ(real(dir.file("link/new/deeper.txt")), base + "/a/b/new/deeper.txt");
    EXPECT_EQ(real(dir.file("link/../file")), base + "/a/file");  // ".." after the link's target
    EXPECT_EQ(real(dir.file("a/./b/")), base + "/a/b");
    EXPECT_EQ(real("/"), "/");
    EXPECT_EQ(real("/.."), "/");
}

TEST(RealPath, WhatCannotBeKnownIsAnError) {
    TempDir dir;
    dir.write("file", "x");
    std::filesystem::create_symlink(dir.file("nowhere/x"), dir.file("dangling"));
    std::filesystem::create_symlink(dir.file("loop"), dir.file("loop"));
    EXPECT_NE(real(dir.file("dangling")).rfind("error", 0), std::string::npos);
    EXPECT_NE(real(dir.file("loop")).rfind("error", 0), std::string::npos);
    EXPECT_NE(real(dir.file("missing/../file")).rfind("error", 0), std::string::npos);
    EXPECT_NE(real(dir.file("file/inside")).rfind("error", 0), std::string::npos);
}

TEST(RealPath, ARelativePathStartsAtTheCurrentDirectory) {
    TempDir dir;
    std::string here = std::filesystem::current_path().string();
    ASSERT_EQ(::chdir(dir.path().c_str()), 0);
    std::string got = real("new.txt");
    std::string base = real(dir.path());
    ASSERT_EQ(::chdir(here.c_str()), 0);
    EXPECT_EQ(got, base + "/new.txt");
}

}  // namespace
