#include "options.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <string>
#include <utility>

namespace ql {

ProgramOptions parse_program_options(int argc, char** argv) {
    ProgramOptions options;
    // The options of the service mode take the next word as their value.
    const std::pair<const char*, std::string ProgramOptions::*> valued[] = {
        {"--install-service", &ProgramOptions::install_service},
        {"--remove-service", &ProgramOptions::remove_service},
        {"--service", &ProgramOptions::service},
        {"--config", &ProgramOptions::config},
        {"--account", &ProgramOptions::account},
    };
    for (int i = 1; i < argc; ++i) {
        const char* word = argv[i];
        auto option = std::find_if(std::begin(valued), std::end(valued),
                                   [&](const auto& v) { return std::strcmp(word, v.first) == 0; });
        if (option != std::end(valued)) {
            if (i + 1 < argc) {
                options.*(option->second) = argv[++i];
            } else {
                options.error = std::string(word) + " needs a value";
            }
            continue;
        }
        if (std::strlen(word) > 127) continue;
        if (std::strcmp(word, "--console") == 0) {
            options.console = true;
        } else if (std::strcmp(word, "--exit-on-failure") == 0) {
            options.exit_on_failure = true;
        } else if (std::strncmp(word, "--name=", 7) == 0) {
            options.line_name = word + 7;
        } else if (std::strncmp(word, "--metrics-file=", 15) == 0) {
            options.metrics_file = word + 15;
        } else if (std::strcmp(word, "--version") == 0) {
            options.version = true;
        } else if (std::strcmp(word, "--help") == 0 || std::strcmp(word, "-h") == 0) {
            options.help = true;
        } else if ((word[0] == '-' || word[0] == '/') && (word[1] == 'I' || word[1] == 'i')) {
            options.settings_name = word + 2;
        } else if ((word[0] == '-' || word[0] == '/') && (word[1] == 'Z' || word[1] == 'z')) {
            options.minimise = true;
        }
    }
    return options;
}

const char* program_usage() {
    return "Usage: quaylink [-I<settings file>] [-Z] [--console [--exit-on-failure]]\n"
           "                [--install-service NAME [--config PATH] [--account USER]]\n"
           "                [--remove-service NAME] [--name=NAME] [--metrics-file=PATH]\n"
           "                [-h | --help] [--version]\n"
           "\n"
           "The communications server for handheld barcode terminals. It serves one\n"
           "terminal over a serial cradle, an IR cradle, a USB virtual COM port or a\n"
           "modem, as set in its settings file.\n"
           "\n"
           "  -I<name>    settings file to use instead of quaylink.ini; a relative name\n"
           "              is taken in the program's directory, an absolute one as it is\n"
           "  -Z          minimise the window 5 seconds after the start\n"
           "  --console   run without a window: status lines and line state are printed\n"
           "              on standard output; Ctrl+C or SIGTERM stops like EXIT\n"
           "  --exit-on-failure\n"
           "              with --console: end with status 1 when communication ends\n"
           "              without serving (port not opened, modem not ready) instead\n"
           "              of trying the port again every 30 s; for service managers\n"
           "  --install-service NAME [--config PATH] [--account USER]\n"
           "              Windows: register the service \"Quaylink NAME\" that serves\n"
           "              one line with the settings file PATH (default\n"
           "              %ProgramData%\\Quaylink\\NAME.ini) in the folder\n"
           "              %ProgramData%\\Quaylink\\NAME, as LocalService or as USER\n"
           "              (password in QUAYLINK_SERVICE_PASSWORD)\n"
           "  --remove-service NAME\n"
           "              Windows: stop and remove the service \"Quaylink NAME\"\n"
           "  --name=NAME the line's name in the status file and the metrics (default:\n"
           "              the settings file's name without its extension)\n"
           "  --metrics-file=PATH\n"
           "              also write the line's figures in the Prometheus text format\n"
           "              to PATH (overrides metricsfile= of the settings)\n"
           "  -h, --help  show this text\n"
           "  --version   show the versions of the suite and of the program\n"
           "\n"
           "\"/\" may stand for \"-\" in -I and -Z, in either case.\n";
}

std::string program_version() {
    return std::string("quaylink (quaylink suite) ") + QL_SUITE_VERSION + "\nQuaylink V2.28\n";
}

}  // namespace ql
