// rowsmith: converts DATA.TXT into records of DEVSCAN.CSV, once, and ends.
#include <cstdio>

#include "rowsmith/convert.h"
#include "rowsmith/startup.h"

int main(int argc, char** argv) {
    using namespace rowsmith;
    Options options = parse_options(argc, argv);
    if (!options.error.empty()) {
        std::fprintf(stderr, "rowsmith: %s\n%s", options.error.c_str(), usage_text().c_str());
        return kUsageExit;
    }
    if (options.help) {
        std::fputs(usage_text().c_str(), stdout);
        return 0;
    }
    if (options.version) {
        std::fputs(version_text().c_str(), stdout);
        return 0;
    }
    // The window shows its folder and lets the operator choose another,
    // which it remembers; a plain run keeps to the fixed rule.
    Paths paths = resolve_paths(options, options.dialog ? window_folder() : working_folder());
    if (options.dialog) {
        std::string error;
        int status = run_window(argc, argv, paths, error);
        if (!error.empty())
            std::fprintf(stderr, "rowsmith: the window (-D) is not available: %s\n", error.c_str());
        return status;
    }
    ConvertSettings settings;
    settings.show = [](const Message& message) {
        std::fprintf(stderr, "rowsmith: %s\n", message_line(message).c_str());
    };
    return exit_status(convert(paths.source, paths.target, settings).result);
}
