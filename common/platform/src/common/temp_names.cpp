// The temporary-file name pattern and the crash-safe whole-file write, the
// same on every OS: the OS sources create, hold and commit the files.
#include <cstdio>

#include "platform/files.h"
#include "platform/paths.h"
#include "platform_shared.h"

namespace platform {

namespace {

constexpr char kTempPrefix[] = ".qltmp-";
constexpr size_t kTempPrefixLength = sizeof kTempPrefix - 1;
constexpr size_t kTempTagLength = 16;
constexpr size_t kTempLeafMax = 120;

}  // namespace

std::string shared::temp_file_name(const std::string& target, uint64_t tag) {
    size_t leaf_start = target.size();
    while (leaf_start > 0 && !is_dir_separator(target[leaf_start - 1])) --leaf_start;
    std::string leaf = target.substr(leaf_start);
    if (leaf.size() > kTempLeafMax) leaf.resize(kTempLeafMax);
    char hex[kTempTagLength + 1];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(tag));
    return target.substr(0, leaf_start) + kTempPrefix + hex + "-" + leaf;
}

bool is_temp_file_name(std::string_view name) {
    if (name.size() < kTempPrefixLength + kTempTagLength + 1) return false;
    if (name.substr(0, kTempPrefixLength) != kTempPrefix) return false;
    for (size_t i = 0; i < kTempTagLength; ++i) {
        char c = name[kTempPrefixLength + i];
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    }
    return name[kTempPrefixLength + kTempTagLength] == '-';
}

int write_file_atomic(const std::string& path, std::string_view data, unsigned mode) {
    TempFile t;
    int err = create_temp_file(path, t);
    if (err != 0) return err;
    if (!data.empty() && std::fwrite(data.data(), 1, data.size(), t.file) != data.size()) {
        err = errno != 0 ? errno : EIO;
        discard_temp_file(t);
        return err;
    }
    return commit_temp_file(t, path, mode);
}

}  // namespace platform
