// formwright: edits the terminal application's settings file "orderini" in
// the current directory. Command-line arguments are accepted and ignored.
#include <QApplication>

#include "formwright/dialogs.h"
#include "platform/files.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    fw::MainDialog window(platform::current_directory());
    window.exec();
    return 0;
}
