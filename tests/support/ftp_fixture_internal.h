// Shared by the FTP test server fixture's parts (ftp_fixture*.cpp).
#pragma once

#include <string>

namespace testing_support {

// The server's interpreter, a Linux program on every system.
inline constexpr const char* kPython = "/usr/bin/python3";

// A script of tests/support (from QL_SOURCE_DIR, else beside the fixture's
// source), named as python3 knows it.
std::string support_script(const std::string& name);

// Whether a file named as the server's system knows it exists.
bool peer_file_exists(const std::string& path);

}  // namespace testing_support
