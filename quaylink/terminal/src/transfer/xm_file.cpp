#include "xm_file.h"

#include <atomic>
#include <cerrno>
#include <random>

#include "foundation/log.h"
#include "platform/files.h"

namespace fs = std::filesystem;

namespace ql {

namespace {

// Long names leave room for the suffix within the usual 255-byte limit.
constexpr size_t kTempBaseMax = 200;

std::string temp_name_for(const std::string& target, unsigned attempt) {
    fs::path path(target);
    std::string base = path.filename().string().substr(0, kTempBaseMax);
    static std::atomic<unsigned> counter{0};
    static const unsigned seed = std::random_device{}();
    unsigned tag = seed ^ (counter.fetch_add(1) * 2654435761u) ^ attempt;
    fs::path temp = path.parent_path() / strformat(".%s.%08x.part", base.c_str(), tag);
    return temp.string();
}

}  // namespace

XmFile::~XmFile() {
    discard();
}

bool XmFile::open(const std::string& target) {
    target_ = target;
    std::error_code ec;
    fs::file_status status = fs::status(target, ec);
    if (fs::exists(status)) {
        if (fs::is_directory(status)) {
            error_ = EISDIR;
            return false;
        }
        // The target will be replaced, not written, but an unwritable file
        // must refuse the transfer just as writing it in place would.
        std::FILE* probe = std::fopen(target.c_str(), "r+b");
        if (probe == nullptr) {
            error_ = errno;
            return false;
        }
        std::fclose(probe);
        keep_permissions_ = true;
        permissions_ = status.permissions();
    }
    for (unsigned attempt = 0; attempt < 16; ++attempt) {
        std::string temp = temp_name_for(target, attempt);
        file_ = std::fopen(temp.c_str(), "wbx");
        if (file_ != nullptr) {
            temp_ = temp;
            return true;
        }
        error_ = errno;
        if (error_ != EEXIST) return false;
    }
    return false;
}

bool XmFile::write(const void* data, size_t count) {
    if (file_ == nullptr) return false;
    if (count == 0) return true;
    if (std::fwrite(data, 1, count, file_) != count) {
        error_ = errno;
        return false;
    }
    return true;
}

bool XmFile::commit() {
    if (file_ == nullptr) return false;
    bool ok = std::fflush(file_) == 0;
    if (!ok) error_ = errno;
    if (std::fclose(file_) != 0 && ok) {
        ok = false;
        error_ = errno;
    }
    file_ = nullptr;
    if (ok) {
        int rc = platform::sync_file(temp_);
        if (rc != 0) {
            ok = false;
            error_ = rc;
        }
    }
    std::error_code ec;
    if (ok && keep_permissions_) fs::permissions(temp_, permissions_, ec);
    if (ok) {
        fs::rename(temp_, target_, ec);
        if (ec) {
            ok = false;
            error_ = ec.value();
        }
    }
    if (!ok) {
        fs::remove(temp_, ec);
    }
    temp_.clear();
    return ok;
}

void XmFile::discard() {
    if (file_ != nullptr) {
        std::fclose(file_);
        file_ = nullptr;
    }
    if (!temp_.empty()) {
        std::error_code ec;
        fs::remove(temp_, ec);
        temp_.clear();
    }
}

}  // namespace ql
