// quaylink: the communications server. Opens the operator window, or runs
// without one with --console.
#include <cstdio>

#include "console.h"
#include "options.h"
#include "window/window_app.h"

int main(int argc, char** argv) {
    ql::ProgramOptions options = ql::parse_program_options(argc, argv);
    if (options.help) {
        std::fputs(ql::program_usage(), stdout);
        return 0;
    }
    if (options.console) return ql::run_console(options);
    return ql::run_window_app(argc, argv);
}
