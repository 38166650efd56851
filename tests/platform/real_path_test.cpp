// Where a path really leads: the existing part resolved entry by entry, the
// missing rest taken as written, and what cannot be known refused.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/dirs.h"
#include "platform/files.h"
#include "temp_dir.h"

namespace {

using testing_support::TempDir;

std::string real(const std::string& path) {
    std::string out;
    int rc = platform::resolve_real_path(path, out);
    return rc == 0 ? out : "error " + std::to_string(rc);
}

// The parts joined with the platform's separator.
std::string native(std::initializer_list<std::string> parts) {
    std::string out;
    for (const std::string& p : parts) {
        if (!out.empty()) out += platform::dir_separator();
        out += p;
    }
    return out;
}

TEST(RealPath, DotsAreResolvedAndTheMissingRestKept) {
    TempDir dir;
    std::string base = real(dir.path());
    ASSERT_EQ(base.rfind("error", 0), std::string::npos) << base;
    std::filesystem::create_directories(dir.file("a/b"));
    dir.write("a/file", "x");
    EXPECT_EQ(real(dir.file("a/b/../file")), native({base, "a", "file"}));
    EXPECT_EQ(real(dir.file("a/./b/")), native({base, "a", "b"}));
    EXPECT_EQ(real(dir.file("a/b/new/deeper.txt")), native({base, "a", "b", "new", "deeper.txt"}));
    EXPECT_EQ(real(dir.file("a//b")), native({base, "a", "b"}));
    // The folder's own result is its real name: resolving it again changes nothing.
    EXPECT_EQ(real(base), base);
}

TEST(RealPath, WhatCannotBeKnownIsAnError) {
    TempDir dir;
    dir.write("file", "x");
    EXPECT_NE(real(dir.file("missing/../file")).rfind("error", 0), std::string::npos);
    EXPECT_NE(real(dir.file("file/inside")).rfind("error", 0), std::string::npos);
    EXPECT_NE(real(dir.file("file/..")).rfind("error", 0), std::string::npos);
}

TEST(RealPath, ARelativePathStartsAtTheCurrentDirectory) {
    TempDir dir;
    auto here = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    std::string got = real("new.txt");
    std::string dotted = real("./sub/../new.txt");
    std::string base = real(dir.path());
    std::filesystem::current_path(here);
    EXPECT_EQ(got, native({base, "new.txt"}));
    EXPECT_EQ(dotted, "error " + std::to_string(ENOENT));  // ".." within the missing rest
}

TEST(RealPath, ParentsStopAtTheRoot) {
    TempDir dir;
    std::string base = real(dir.path());
    std::string up = dir.path();
    for (int i = 0; i < 40; ++i) up += "/..";
    std::string root = real(up);
    ASSERT_EQ(root.rfind("error", 0), std::string::npos) << root;
    EXPECT_EQ(base.rfind(root, 0), 0u) << base << " below " << root;
    EXPECT_EQ(real(root + ".."), root);
}

}  // namespace
