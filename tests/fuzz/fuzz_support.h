// Helpers shared by the fuzz targets. Every target is a plain
// LLVMFuzzerTestOneInput: libFuzzer drives it in the fuzz build, and the
// replay driver (replay_main.cpp) feeds it the stored corpus in the test
// build. Targets keep to a private temporary folder, never wait on a clock
// and start every input from a clean state, so a run is repeatable.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace fuzz {

// The bytes of one input as a view.
inline std::string_view bytes(const uint8_t* data, size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

// The private folder of this process (created on first use, removed with
// everything in it at exit), without a trailing separator.
const std::string& scratch();

// Writes bytes to scratch()/name, replacing it; returns the full path.
std::string write_file(const std::string& name, std::string_view bytes);

// Removes scratch()/name if present.
void remove_file(const std::string& name);

// The files now in scratch(), sorted.
std::vector<std::string> scratch_listing();

// Cuts the first line (up to '\n', which is dropped) off input.
std::string_view take_line(std::string_view& input);

// Splits text at sep into exactly count pieces (missing ones empty; the
// last one keeps any further separators).
std::vector<std::string> split(std::string_view text, char sep, size_t count);

// One end of a connected stream socket pair whose other end has written
// bytes and finished sending: reads see the bytes, then end of stream, never
// a wait. Sends on it succeed (into a buffer nobody reads) until the feed
// is destroyed. At most kFeedMax bytes fit; larger inputs are refused.
class SocketFeed {
  public:
    static constexpr size_t kFeedMax = 64 * 1024;
    explicit SocketFeed(std::string_view bytes);
    ~SocketFeed();
    SocketFeed(const SocketFeed&) = delete;
    SocketFeed& operator=(const SocketFeed&) = delete;

    bool ok() const { return reader_ >= 0; }
    int reader() const { return reader_; }
    // Hands the reading end to someone who closes it.
    int release();

  private:
    int reader_ = -1;
    int writer_ = -1;
};

}  // namespace fuzz
