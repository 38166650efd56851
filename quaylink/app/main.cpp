// quaylink: the communications server. Opens the operator window, or runs
// without one with --console.
#include <cstdio>
#include <string>

#include "console.h"
#include "options.h"
#include "platform/module.h"
#include "service_mode.h"

namespace {

// The operator window lives in a module of its own, so that the console
// server needs no window library. Returns the window's exit code, or 1 with
// a message when the module is not installed.
int run_window(int argc, char** argv) {
    using Entry = int (*)(int, char**);
    std::string error;
    auto entry = reinterpret_cast<Entry>(
        platform::module_function("quaylink_window", "quaylink_window_main", error));
    if (entry) return entry(argc, argv);
    std::fprintf(stderr,
                 "quaylink: the operator window is not available (%s).\n"
                 "Run \"quaylink --console\" or install the window module (package "
                 "quaylink-gui).\n",
                 error.c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    ql::ProgramOptions options = ql::parse_program_options(argc, argv);
    if (options.help) {
        std::fputs(ql::program_usage(), stdout);
        return 0;
    }
    if (options.version) {
        std::fputs(ql::program_version().c_str(), stdout);
        return 0;
    }
    if (!options.error.empty()) {
        std::fprintf(stderr, "quaylink: %s (see --help)\n", options.error.c_str());
        return 2;
    }
    if (!options.install_service.empty()) return ql::install_service(options);
    if (!options.remove_service.empty()) return ql::remove_service(options);
    if (!options.service.empty()) return ql::run_service(options);
    if (options.console) return ql::run_console(options);
    return run_window(argc, argv);
}
