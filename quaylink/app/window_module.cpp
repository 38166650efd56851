// Entry point of the operator window module, looked up by the quaylink
// program when it runs without --console.
#include "window/window_app.h"

extern "C" int quaylink_window_main(int argc, char** argv) {
    return ql::run_window_app(argc, argv);
}
