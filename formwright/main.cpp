// formwright: edits the terminal application's settings file "orderini" in
// the current directory. Command-line arguments are accepted and ignored,
// except --version.
#include <QApplication>
#include <cstdio>
#include <cstring>

#include "formwright/dialogs.h"
#include "platform/files.h"

int main(int argc, char** argv) {
    // Answered before the window library starts, so that it needs no display.
    for (int i = 1; i < argc; ++i) {
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
