// Server settings: paths and the settings load.
#include "foundation/settings.h"

#include <strings.h>

#include <cerrno>
#include <cstdlib>
#include <limits>

#include "foundation/log.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "profile/profile.h"

namespace ql {

namespace {

ServerSettings g_settings;
ServerPaths g_paths;

constexpr size_t kValueSize = 256;
const char* const kSetup = "setup";
const char* const kModemInit = "modem init";

// Reads a key of section setup into a 256-byte value; empty when missing.
std::string read_value(const char* key, const char* section = kSetup) {
    std::string value;
    int rc = profile::profile_get(g_paths.settings_path, section, key, value, "", kValueSize);
    return rc == profile::kFound ? value : std::string();
}

// Reads a 64-byte text field: a value of 64 characters or more is missing.
std::string read_field(const char* key, const char* section = kSetup) {
    std::string value;
    int rc = profile::profile_get(g_paths.settings_path, section, key, value, "", kFieldSize);
    return rc == profile::kFound ? value : std::string();
}

// Compares a settings word over the given number of leading characters.
bool word_is(const std::string& value, const char* word, size_t chars) {
    return ::strncasecmp(value.c_str(), word, chars) == 0;
}

// The decimal number at the start of a value (after blanks and a sign), 0
// when there is none. A number beyond the integer range is no more valid
// than a word: it reads as 0 instead of wrapping to some other number.
int to_int(const std::string& value) {
    errno = 0;
    const long long n = std::strtoll(value.c_str(), nullptr, 10);
    if (errno == ERANGE || n > std::numeric_limits<int>::max() ||
        n < std::numeric_limits<int>::min()) {
        return 0;
    }
    return static_cast<int>(n);
}

// A line number that must be at least 1 (a rate, a delay): 0, a negative
// number, a word or a number beyond the integer range is treated as
// missing, so the previous value stays, and the log says why. A delay of 0
// made every frame wait out the whole read time-out, a rate of 0 no line.
void read_positive(const char* key, const char* what, const char* unit, int& setting) {
    std::string value = read_value(key);
    if (value.empty()) return;
    int n = to_int(value);
    if (n >= 1) {
        setting = n;
        return;
    }
    log_event(strformat("%s %s ignored: must be at least 1%s", what, value.c_str(), unit), 99, 0);
}

void load_log_settings() {
    std::string logfile = read_value("logfile");
    int mode = 0;
    if (word_is(logfile, "CREATE", 6)) mode = 2;
    if (word_is(logfile, "APPEND", 6)) mode = 1;
    log_state().mode = mode;
    if (mode == 0) return;

    std::string logdir = read_value("logdir");
    // Without logdir the file goes into the working directory, which is the
    // program directory when workdir is not set.
    std::string dir = logdir.empty() ? effective_workdir() : with_trailing_separator(logdir);
    if (!set_log_path(dir + "quaylink.log")) return;  // refused: file logging is off
    if (mode == 2) platform::remove_file(log_path());
}

void load_line_settings() {
    std::string port = read_value("commport");
    if (!port.empty()) {
        g_settings.commport = to_int(port);
        g_settings.commport_device = port[0] == '/' ? port : std::string();
    }
    read_positive("baudrate", "Baud rate", "", g_settings.baudrate);
    read_positive("interchardelay", "Inter-character delay", " ms", g_settings.interchardelay);

    std::string connect = read_value("connect");
    if (!connect.empty()) {
        if (word_is(connect, "direct", 6)) g_settings.connect_kind = kConnectDirect;
        if (word_is(connect, "irda", 3)) g_settings.connect_kind = kConnectIrda;
        if (word_is(connect, "modem", 5)) {
            g_settings.modem = true;
            g_settings.connect_kind = kConnectDirect;
        }
        if (word_is(connect, "usb", 3)) g_settings.connect_kind = kConnectUsb;
    }
    g_settings.altread = word_is(read_value("altreadport"), "yes", 3);

    if (g_settings.modem) {
        const char* keys[3] = {"init1", "init2", "init3"};
        for (int i = 0; i < 3; ++i) {
            std::string init = read_field(keys[i], kModemInit);
            if (!init.empty()) g_settings.init[i] = init;
        }
    }
}

void load_network_settings() {
    g_settings.host = read_field("host");
    g_settings.user = read_field("user");
    g_settings.password = read_field("password");
    g_settings.ftpdir = read_field("ftpdir");
    g_settings.passive = word_is(read_value("passive"), "yes", 3);
    std::string dataport = read_value("ftpdataport");
    if (!dataport.empty()) g_settings.ftpdataport = to_int(dataport);
    g_settings.lastftpsend = word_is(read_value("lastftpsend"), "yes", 3);
    std::string tls = read_value("ftptls");
    g_settings.ftptls = tls.empty() || word_is(tls, "no", 3) ? 0
                        : word_is(tls, "implicit", 9)        ? 2
                                                             : 1;
    g_settings.ftptlsverify = !word_is(read_value("ftptlsverify"), "no", 3);
    g_settings.ftpcafile = read_value("ftpcafile");
    g_settings.ftpepsv = word_is(read_value("ftpepsv"), "yes", 4);
    g_settings.iphost = read_field("iphost");
    g_settings.ipport = read_field("ipport");
    g_settings.ipuser = read_field("ipuser");
}

void load_safety_settings() {
    g_settings.confine = word_is(read_value("confine"), "yes", 3);
    g_settings.programs = !word_is(read_value("programs"), "no", 2);
}

std::string directory_of(const std::string& path) {
    for (size_t i = path.size(); i > 0; --i)
        if (platform::is_dir_separator(path[i - 1])) return path.substr(0, i);
    return {};
}

}  // namespace

ServerSettings& settings() {
    return g_settings;
}
ServerPaths& server_paths() {
    return g_paths;
}

std::string with_trailing_separator(const std::string& dir) {
    // A folder given with either separator Windows takes keeps it as it is.
    if (dir.empty() || platform::is_dir_separator(dir.back())) return dir;
    return dir + platform::dir_separator();
}

std::string effective_workdir() {
    return g_settings.workdir.empty() ? g_paths.default_workdir : g_settings.workdir;
}

void settings_reset_defaults() {
    g_settings = ServerSettings{};
}

void settings_load() {
    log_state().debug = 1;
    g_settings.workdir.clear();
    for (auto& init : g_settings.init) init.clear();
    log_state().mode = 0;
    g_settings.altread = false;
    g_settings.passive = false;
    g_settings.ftpdataport = 0;
    g_settings.lastftpsend = false;
    g_settings.ftptls = 0;
    g_settings.ftptlsverify = true;
    g_settings.ftpcafile.clear();
    g_settings.ftpepsv = false;

    std::string workdir = read_value("workdir");
    if (!workdir.empty()) g_settings.workdir = with_trailing_separator(workdir);
    load_log_settings();
    load_line_settings();
    load_network_settings();
    load_safety_settings();
}

void server_paths_set(const std::string& program_dir, const std::string& settings_name) {
    g_paths.program_dir = with_trailing_separator(program_dir);
    g_paths.default_workdir = g_paths.program_dir;
    g_paths.settings_name = settings_name.empty() ? "quaylink.ini" : settings_name;
    g_paths.relocation_note.clear();
    if (platform::is_absolute_path(g_paths.settings_name)) {
        g_paths.settings_path = g_paths.settings_name;
    } else {
        g_paths.settings_path = g_paths.program_dir + g_paths.settings_name;
    }
}

void server_paths_init(const std::string& settings_name) {
    std::string dir = directory_of(platform::executable_path());
    if (dir.empty()) dir = platform::current_directory();
    server_paths_set(dir, settings_name);

    // An installed copy (in /usr/bin) cannot keep terminal files beside
    // itself: without workdir they go to the current directory, which a
    // service sets to its state folder.
    if (!platform::directory_writable(g_paths.program_dir)) {
        std::string here = platform::current_directory();
        if (!here.empty()) g_paths.default_workdir = with_trailing_separator(here);
    }

    // An installed copy cannot write beside itself: keep the settings in the
    // user's configuration folder instead, unless a file is already there.
    if (platform::is_absolute_path(g_paths.settings_name) ||
        platform::directory_writable(g_paths.program_dir) ||
        platform::path_exists(g_paths.settings_path))
        return;
    std::string config = platform::user_config_directory();
    if (config.empty()) return;
    platform::make_directory(config);
    std::string dir2 = with_trailing_separator(config) + "quaylink";
    platform::make_directory(dir2);
    g_paths.settings_path = with_trailing_separator(dir2) + g_paths.settings_name;
    g_paths.relocation_note =
        "Program directory not writable, settings in " + g_paths.settings_path;
}

}  // namespace ql
