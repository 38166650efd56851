// formwright: edits the terminal application's settings file "orderini" in
// the current directory. Command-line arguments are accepted and ignored,
// except --help and --version.
#include <QApplication>
#include <cstdio>
#include <cstring>

#include "formwright/dialogs.h"
#include "platform/files.h"

namespace {

const char kUsage[] =
    "Usage: formwright [--help] [--version]\n"
    "\n"
    "Edits orderini, the settings file of the terminal application, in the\n"
    "current directory: labels and data fields, scanner symbologies and the\n"
    "communication mode. A missing file starts with the defaults and is created\n"
    "on the first save. Needs a display (or QT_QPA_PLATFORM=offscreen).\n"
    "\n"
    "  -h, --help  show this text\n"
    "  --version   show the versions of the suite and of the program\n"
    "\n"
    "Other arguments are ignored.\n";

}  // namespace

int main(int argc, char** argv) {
    // Answered before the window library starts, so that they need no display.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("formwright (quaylink suite) %s\nFormwright Setup V2.02\n",
                        QL_SUITE_VERSION);
            return 0;
        }
    }
    QApplication app(argc, argv);
    fw::MainDialog window(platform::current_directory());
    window.exec();
    return 0;
}
