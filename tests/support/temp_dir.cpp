#include "temp_dir.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "platform/dirs.h"
#include "platform/files.h"

namespace testing_support {

// A new folder under a random name; create_directory is false when the
// name was taken, so two tests never share a folder. Written with the
// standard library alone so that the Windows build uses it too.
TempDir::TempDir() {
    namespace fs = std::filesystem;
    std::string base = fs::temp_directory_path().generic_string();
    if (!base.empty() && base.back() == '/') base.pop_back();
    std::random_device seed;
    std::mt19937_64 random(seed());
    for (int attempt = 0; attempt < 100; ++attempt) {
        char suffix[20];
        std::snprintf(suffix, sizeof suffix, "%012llx",
                      static_cast<unsigned long long>(random() & 0xffffffffffffULL));
        std::string candidate = base + "/qltest." + suffix;
        std::error_code ec;
        if (fs::create_directory(candidate, ec)) {
            fs::permissions(candidate, fs::perms::owner_all, fs::perm_options::replace, ec);
            path_ = candidate;
            return;
        }
        if (ec) throw std::runtime_error("cannot create a test folder: " + ec.message());
    }
    throw std::runtime_error("no free test folder name");
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::string TempDir::file(const std::string& name) const {
    return path_ + "/" + name;
}

std::string TempDir::native(const std::string& name) const {
    return path_ + platform::dir_separator() + name;
}

std::string TempDir::write(const std::string& name, const std::string& content) const {
    std::string full = file(name);
    std::ofstream out(full, std::ios::binary | std::ios::trunc);
    out << content;
    return full;
}

std::string TempDir::read(const std::string& name) const {
    return read_whole_file(file(name));
}

std::vector<std::string> names_in(const std::string& dir) {
    std::vector<platform::DirEntry> entries;
    platform::list_folder(dir, entries);
    std::vector<std::string> names;
    for (const auto& e : entries) names.push_back(e.name);
    return names;
}

std::string read_whole_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

}  // namespace testing_support
