// The scratch folders and file helpers of the rowsmith tests, on the
// standard library alone so that they build for every OS.
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

#include "scratch.h"

namespace rowsmith_test {

Scratch::Scratch() {
    namespace fs = std::filesystem;
    std::random_device random;
    // A new folder of a random name; an existing one is never reused.
    for (int attempt = 0; attempt < 32 && dir_.empty(); ++attempt) {
        fs::path dir = fs::temp_directory_path() / ("rowsmith-test-" + std::to_string(random()));
        std::error_code ec;
        if (fs::create_directory(dir, ec)) dir_ = dir.generic_string() + "/";
    }
    if (dir_.empty()) throw std::runtime_error("no scratch folder");
}

Scratch::~Scratch() {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}

std::string Scratch::write(const std::string& name, const std::string& content) const {
    std::ofstream out(path(name), std::ios::binary | std::ios::trunc);
    out << content;
    return path(name);
}

std::string Scratch::read(const std::string& name) const {
    return read_file(path(name));
}
bool Scratch::exists(const std::string& name) const {
    return file_exists(path(name));
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool file_exists(const std::string& path) {
    std::error_code ec;
    return std::filesystem::exists(path, ec);
}

std::string numbered_lines(int n) {
    std::string text;
    for (int i = 0; i < n; ++i)
        text += "LOC" + std::to_string(i) + ",TAG" + std::to_string(i) + "\n";
    return text;
}

}  // namespace rowsmith_test
