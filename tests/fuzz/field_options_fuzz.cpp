// formwright's decoders: a data field's option string and the SCANNER flag
// string (the input's first line), and the terminal application's settings
// file (the rest), which is loaded, saved and loaded again.
#include <string>

#include "formwright/settings.h"
#include "fuzz_support.h"

namespace {

void check_options(const std::string& text) {
    fw::FieldOptions options = fw::field_options_parse(text);
    if (options.mask.size() > 19) __builtin_trap();
    std::string scan = options.scan_length != 0 ? std::to_string(options.scan_length) : "";
    std::string encoded = fw::field_options_format(options, scan);
    if (encoded.size() > 63) __builtin_trap();
    fw::field_options_parse(encoded);
}

void check_scanner(const std::string& flags) {
    fw::ScannerChoice choice = fw::scanner_decode(flags);
    std::string encoded = fw::scanner_encode(flags, choice);
    fw::ScannerChoice again = fw::scanner_decode(encoded);
    if (again.label != choice.label || again.msi_drop != choice.msi_drop ||
        again.msi_check != choice.msi_check)
        __builtin_trap();
    fw::scanner_flag_on(flags, static_cast<int>(flags.size() % 40));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view input = fuzz::bytes(data, size);
    std::string first(fuzz::take_line(input));
    check_options(first);
    check_scanner(first);

    fw::settings_reset();
    fw::set_save_error_handler([](const std::string&, const std::string&) {});
    fw::settings_set_directory(fuzz::scratch());
    fuzz::write_file(fw::kSettingsFileName, input);
    fw::settings_load();
    for (const std::string& field : fw::settings().field) check_options(field);
    check_scanner(fw::settings().scanner);

    // What was loaded survives a save and a second load.
    fw::Settings loaded = fw::settings();
    if (fw::settings_save() == 0) {
        fw::settings_load();
        if (!(fw::settings() == loaded)) __builtin_trap();
    }

    fw::settings_reset();
    fuzz::remove_file(fw::kSettingsFileName);
    return 0;
}
