// Profile files as they come from disk: the input's first line is the
// request, the rest the file. The key is read, rewritten and read again.
//
// Request: "section|key|value|buffer size|section only". A value of
// "TURN REM ON" or "TURN REM OFF" comments or uncomments the key; a default
// of "GET REM ON" or "NO STRIP" is used when the value is one of those.
#include <cstdlib>
#include <string>

#include "fuzz_support.h"
#include "profile/profile.h"

namespace {

const char* default_for(const std::string& value) {
    if (value == profile::kGetRemOn) return profile::kGetRemOn;
    if (value == profile::kNoStrip) return profile::kNoStrip;
    return "dflt";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view input = fuzz::bytes(data, size);
    std::vector<std::string> request = fuzz::split(fuzz::take_line(input), '|', 5);
    const std::string& section = request[0];
    const std::string& key = request[1];
    const std::string& value = request[2];
    size_t buffer_size = std::strtoul(request[3].c_str(), nullptr, 10);
    if (buffer_size == 0 || buffer_size > 4096) buffer_size = 256;
    int section_only = request[4] == "1" ? 1 : 0;

    std::string path = fuzz::write_file("test.ini", input);
    std::string result;
    profile::profile_get(path, section.c_str(), key.c_str(), result, default_for(value),
                         buffer_size);
    if (result.size() >= buffer_size && value != profile::kNoStrip) __builtin_trap();

    int rc = profile::profile_put(path, section.c_str(), key.c_str(), value.c_str(), section_only);
    result.clear();
    profile::profile_get(path, section.c_str(), key.c_str(), result, "", buffer_size);
    if (rc != profile::kPutOk && rc > -100) __builtin_trap();

    // A rewrite leaves exactly the file: no temporary file beside it.
    if (fuzz::scratch_listing() != std::vector<std::string>{"test.ini"}) __builtin_trap();
    fuzz::remove_file("test.ini");
    return 0;
}
