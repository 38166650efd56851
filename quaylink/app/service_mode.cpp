#include "service_mode.h"

#include <cstdio>
#include <cstdlib>

#include "console.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/service.h"

namespace ql {

namespace {

// What the service pauses between two sessions, as the systemd unit does.
constexpr int kNextSessionDelayMs = 5000;
// service.log is kept below this size: at each start a bigger one becomes
// service.old.log.
constexpr long long kStatusLogLimit = 4LL << 20;

std::string join(const std::string& dir, const std::string& name) {
    if (dir.empty()) return name;
    return platform::is_dir_separator(dir.back()) ? dir + name
                                                  : dir + platform::dir_separator() + name;
}

// %ProgramData%\Quaylink, or empty where there is no such folder.
std::string suite_data_directory() {
    std::string shared = platform::shared_data_directory();
    return shared.empty() ? shared : join(shared, "Quaylink");
}

int fail(const std::string& text) {
    std::fprintf(stderr, "quaylink: %s\n", text.c_str());
    return 1;
}

// The status lines of console mode have no console in a service: they go to
// service.log in the line's folder (the current directory by now).
std::FILE* open_status_file() {
    const std::string log = join(platform::current_directory(), "service.log");
    if (platform::file_size(log) > kStatusLogLimit) {
        const std::string old = join(platform::current_directory(), "service.old.log");
        platform::remove_file(old);
        std::rename(log.c_str(), old.c_str());
    }
    std::FILE* out = std::fopen(log.c_str(), "a");
    if (!out) platform::service_report("Cannot open " + log + ": no status lines", true);
    return out;
}

int serve_line(const ProgramOptions& options) {
    std::FILE* out = open_status_file();
    if (!out) out = stdout;  // nowhere, but the server runs on
    ProgramOptions console = options;
    console.console = true;
    console.exit_on_failure = true;  // nobody is there to fix a line that cannot be served
    for (;;) {
        int status = run_console(console, out);
        if (platform::service_stop_requested()) return 0;
        if (status != 0) return status;
        if (platform::service_wait_for_stop(kNextSessionDelayMs)) return 0;
    }
}

}  // namespace

bool valid_line_name(const std::string& name) {
    if (name.empty() || name.size() > 64 || name[0] == '.') return false;
    for (char c : name) {
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                  c == '.' || c == '-' || c == '_';
        if (!ok) return false;
    }
    return true;
}

std::string service_name_of(const std::string& line) {
    return "Quaylink " + line;
}

int install_service(const ProgramOptions& options) {
    const std::string& line = options.install_service;
    if (!valid_line_name(line)) {
        return fail("a line name is 1 to 64 letters, digits, '.', '-' or '_': \"" + line + "\"");
    }
    platform::ServiceSetup setup;
    std::string data = suite_data_directory();
    std::string config = options.config;
    if (config.empty() && !data.empty()) config = join(data, line + ".ini");
    if (!config.empty() && !platform::is_absolute_path(config)) {
        config = join(platform::current_directory(), config);
    }
    // A service without its settings would serve defaults on some port:
    // refuse, as the systemd unit does.
    if (!data.empty() && !platform::is_regular_file(config)) {
        return fail("settings file not found: " + config +
                    " (copy example.ini there and set connect= and commport=)");
    }
    setup.name = service_name_of(line);
    setup.display_name = setup.name;
    setup.description =
        "Quaylink communications server on line " + line + " (settings " + config + ")";
    setup.program = platform::executable_path();
    setup.arguments = {"--service", line, "-I" + config};
    setup.account = options.account;
    if (const char* password = std::getenv("QUAYLINK_SERVICE_PASSWORD")) setup.password = password;
    setup.data_directory = data.empty() ? data : join(data, line);
    std::string error;
    if (platform::service_install(setup, error) != 0) return fail(error);
    std::printf(
        "Service \"%s\" installed: settings %s, folder %s, account %s.\n"
        "Start it with: sc start \"%s\"\n",
        setup.name.c_str(), config.c_str(), setup.data_directory.c_str(),
        setup.account.empty() ? "LocalService" : setup.account.c_str(), setup.name.c_str());
    return 0;
}

int remove_service(const ProgramOptions& options) {
    const std::string& line = options.remove_service;
    if (!valid_line_name(line)) {
        return fail("a line name is 1 to 64 letters, digits, '.', '-' or '_': \"" + line + "\"");
    }
    std::string error;
    if (platform::service_remove(service_name_of(line), error) != 0) return fail(error);
    std::printf("Service \"%s\" removed; its folder and settings are kept.\n",
                service_name_of(line).c_str());
    return 0;
}

int run_service(const ProgramOptions& options) {
    const std::string& line = options.service;
    if (!valid_line_name(line)) {
        return fail("a line name is 1 to 64 letters, digits, '.', '-' or '_': \"" + line + "\"");
    }
    std::string data = suite_data_directory();
    std::string error;
    int status = platform::service_run(
        service_name_of(line), data.empty() ? data : join(data, line),
        [&options] { return serve_line(options); }, error);
    if (!error.empty()) return fail(error);
    return status;
}

}  // namespace ql
