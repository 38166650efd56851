// The server's window mode: the application object, the program's paths
// and the main window, with the real communication thread and loader.
#include <QApplication>
#include <cstdio>

#include "foundation/line_status.h"
#include "foundation/server_state.h"
#include "foundation/settings.h"
#include "platform/display.h"
#include "platform/process.h"
#include "terminal/commands.h"
#include "terminal/communication.h"
#include "window/main_window.h"
#include "window/window_app.h"

namespace ql {

namespace {

// The command line, read as the console mode reads it: -I<name> or /I<name>
// names the settings file, -Z or /Z minimises the window after the start.
struct WindowCommandLine {
    std::string settings_name;
    bool minimise = false;
    std::string line_name, metrics_file;  // --name=, --metrics-file=
};

WindowCommandLine read_command_line(int argc, char** argv) {
    WindowCommandLine line;
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (word.rfind("--name=", 0) == 0) line.line_name = word.substr(7);
        if (word.rfind("--metrics-file=", 0) == 0) line.metrics_file = word.substr(15);
        if (word.size() < 2 || word.size() > 127 || (word[0] != '-' && word[0] != '/')) continue;
        const char option = static_cast<char>(word[1] | 0x20);
        if (option == 'i') line.settings_name = word.substr(2);
        if (option == 'z') line.minimise = true;
    }
    return line;
}

// Starts the loader without waiting for it; the program runs on by itself.
int start_loader(const std::string& path) {
    platform::Process handle;
    int rc = start_program(path, "", handle);
    if (rc == 0) platform::process_release(handle);
    return rc;
}

}  // namespace

int run_window_app(int argc, char** argv) {
    // Without a display Qt would abort with a message about platform
    // plugins; say what to do instead.
    if (!platform::display_available()) {
        std::fprintf(stderr,
                     "quaylink: no display for the window (%s); "
                     "run \"quaylink --console\" to serve without one\n",
                     platform::display_hint());
        return 1;
    }
    platform::release_own_console();
    QApplication app(argc, argv);
    const WindowCommandLine line = read_command_line(argc, argv);
    server_state_reset();
    server_paths_init(line.settings_name);
    line_status_configure(line.line_name, line.metrics_file);

    WindowOptions options;
    options.thread_body = [] { communication_thread(); };
    options.start_loader = start_loader;
    options.minimise_at_start = line.minimise;
    {
        MainWindow window(options);
        window.show();
        QMetaObject::invokeMethod(
            &window, [&window] { window.initialize(); }, Qt::QueuedConnection);
        window.exec();
    }
    line_status_close();
    return 0;
}

}  // namespace ql
