#include "fuzz_support.h"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "temp_dir.h"

namespace fuzz {

namespace {

testing_support::TempDir& folder() {
    // Destroyed at exit, which removes the folder and what is left in it.
    static testing_support::TempDir dir;
    return dir;
}

}  // namespace

const std::string& scratch() {
    return folder().path();
}

std::string write_file(const std::string& name, std::string_view bytes) {
    std::string path = scratch() + "/" + name;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return path;
}

void remove_file(const std::string& name) {
    std::error_code ec;
    std::filesystem::remove(scratch() + "/" + name, ec);
}

std::vector<std::string> scratch_listing() {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(scratch(), ec))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string_view take_line(std::string_view& input) {
    size_t end = input.find('\n');
    std::string_view line = input.substr(0, end);
    input.remove_prefix(end == std::string_view::npos ? input.size() : end + 1);
    return line;
}

std::vector<std::string> split(std::string_view text, char sep, size_t count) {
    std::vector<std::string> pieces;
    while (pieces.size() + 1 < count) {
        size_t at = text.find(sep);
        if (at == std::string_view::npos) break;
        pieces.emplace_back(text.substr(0, at));
        text.remove_prefix(at + 1);
    }
    pieces.emplace_back(text);
    pieces.resize(count);
    return pieces;
}

SocketFeed::SocketFeed(std::string_view bytes) {
    if (bytes.size() > kFeedMax) return;
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, pair) != 0) return;
    int size = static_cast<int>(kFeedMax * 2);
    ::setsockopt(pair[1], SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
    ::setsockopt(pair[0], SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    size_t sent = 0;
    while (sent < bytes.size()) {
        ssize_t n = ::send(pair[1], bytes.data() + sent, bytes.size() - sent, MSG_DONTWAIT);
        if (n <= 0) break;
        sent += static_cast<size_t>(n);
    }
    ::shutdown(pair[1], SHUT_WR);
    if (sent != bytes.size()) {
        ::close(pair[0]);
        ::close(pair[1]);
        return;
    }
    reader_ = pair[0];
    writer_ = pair[1];
}

SocketFeed::~SocketFeed() {
    if (reader_ >= 0) ::close(reader_);
    if (writer_ >= 0) ::close(writer_);
}

int SocketFeed::release() {
    int s = reader_;
    reader_ = -1;
    return s;
}

}  // namespace fuzz
