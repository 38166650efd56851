// The server's settings file: the input is quaylink.ini, loaded the way
// the server loads it at start and after the settings dialog.
//
// A settings file may point the log anywhere, and a CREATE log is deleted
// at load: the target renames the log folder and working folder keys so
// the log stays in the private folder.
#include <cctype>
#include <string>

#include "foundation/log.h"
#include "foundation/settings.h"
#include "fuzz_support.h"

namespace {

// Defuses every spelling of a key (keys match as prefixes, ignoring case)
// by changing its last letter.
void defuse(std::string& text, std::string_view key) {
    for (size_t at = 0; at + key.size() <= text.size(); ++at) {
        size_t i = 0;
        while (i < key.size() && std::tolower(static_cast<unsigned char>(text[at + i])) == key[i])
            ++i;
        if (i == key.size()) text[at + key.size() - 1] = '_';
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(fuzz::bytes(data, size));
    defuse(text, "logdir");
    defuse(text, "workdir");
    fuzz::write_file("quaylink.ini", text);

    ql::log_reset();
    ql::settings_reset_defaults();
    ql::server_paths_set(fuzz::scratch(), "quaylink.ini");
    ql::settings_load();

    const ql::ServerSettings& s = ql::settings();
    for (const std::string* field : {&s.host, &s.user, &s.password, &s.ftpdir, &s.iphost, &s.ipport,
                                     &s.ipuser, &s.init[0], &s.init[1], &s.init[2]}) {
        if (field->size() >= ql::kFieldSize) __builtin_trap();
    }
    // The log, when one is configured, lives in the private folder.
    if (ql::log_state().mode != 0 && ql::log_path().rfind(fuzz::scratch() + "/", 0) != 0)
        __builtin_trap();
    ql::log_event("settings loaded", 0, 0);

    ql::log_reset();
    ql::settings_reset_defaults();
    fuzz::remove_file("quaylink.log");
    fuzz::remove_file("quaylink.ini");
    return 0;
}
