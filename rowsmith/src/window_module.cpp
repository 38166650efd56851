// Entry point of the rowsmith window module, looked up by the program for -D.
#include "rowsmith/dialog.h"

extern "C" int rowsmith_window_main(int argc, char** argv, const char* workdir, const char* source,
                                    const char* target) {
    rowsmith::Paths paths;
    paths.workdir = workdir;
    paths.source = source;
    paths.target = target;
    return rowsmith::run_dialog(argc, argv, paths);
}
