// The sent-file register: the name of the file most recently sent, kept in
// "FTPSENDX.INI" in the working directory, so that a terminal repeating a
// send after a lost reply does not deliver the same file twice.
#include "foundation/settings.h"
#include "network/bridge.h"
#include "profile/profile.h"

namespace ql {

namespace {

constexpr const char* kSection = "setup";
constexpr const char* kKey = "sent";
constexpr size_t kValueBuffer = 256;

bool register_on() {
    return settings().lastftpsend;
}

}  // namespace

std::string sent_register_path() {
    return with_trailing_separator(effective_workdir()) + "FTPSENDX.INI";
}

int sent_register_check(const std::string& name) {
    if (!register_on()) return -1;
    std::string stored;
    // Kept exactly as written: blanks at the end are part of a name.
    profile::profile_get(sent_register_path(), kSection, kKey, stored, profile::kNoStrip,
                         kValueBuffer);
    if (stored.empty() || stored != name) return -1;
    return 0;
}

int sent_register_record(const std::string& name) {
    if (!register_on()) return -1;
    return profile::profile_put(sent_register_path(), kSection, kKey, name.c_str());
}

}  // namespace ql
