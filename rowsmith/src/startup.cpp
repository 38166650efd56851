// Command line, paths and exit status of rowsmith.
#include "rowsmith/startup.h"

#include <cctype>
#include <cerrno>

#include "platform/file_handle.h"
#include "platform/files.h"
#include "platform/module.h"
#include "platform/paths.h"

namespace rowsmith {

namespace {

// Takes the value of -S / -T: attached to the letter or the next argument.
bool take_value(const std::string& arg, int& i, int argc, const char* const* argv,
                std::string& value) {
    if (arg.size() > 2) {
        value = arg.substr(2);
        return true;
    }
    if (i + 1 >= argc) return false;
    value = argv[++i];
    return !value.empty();
}

}  // namespace

Options parse_options(int argc, const char* const* argv) {
    Options options;
    for (int i = 1; i < argc && options.error.empty(); ++i) {
        std::string arg = argv[i] ? argv[i] : "";
        if (arg == "--help") {
            options.help = true;
            continue;
        }
        if (arg == "--version") {
            options.version = true;
            continue;
        }
        if (arg.size() < 2 || arg[0] != '-') {
            options.error = "unexpected argument '" + arg + "'";
            continue;
        }
        char letter = static_cast<char>(std::tolower(static_cast<unsigned char>(arg[1])));
        if (letter == 'h' && arg.size() == 2) {
            options.help = true;
        } else if (letter == 'd' && arg.size() == 2) {
            options.dialog = true;
        } else if (letter == 's' || letter == 't') {
            std::string& value = letter == 's' ? options.source : options.target;
            if (!take_value(arg, i, argc, argv, value))
                options.error = std::string("option -") + arg[1] + " needs a file name";
        } else {
            options.error = "unknown option '" + arg + "'";
        }
    }
    return options;
}

std::string resolve_in(const std::string& workdir, const std::string& name) {
    return platform::is_absolute_path(name) ? name : workdir + name;
}

Paths resolve_paths(const Options& options, const std::string& workdir) {
    Paths paths;
    paths.workdir = workdir;
    paths.source = resolve_in(workdir, options.source.empty() ? kSourceName : options.source);
    paths.target = resolve_in(workdir, options.target.empty() ? kTargetName : options.target);
    return paths;
}

namespace {

// A folder with its trailing separator ('/' is taken on every OS).
std::string with_separator(std::string dir) {
    if (dir.empty() || (dir.back() != '/' && dir.back() != platform::dir_separator()))
        dir += platform::dir_separator();
    return dir;
}

}  // namespace

std::string program_directory() {
    std::string self = platform::executable_path();
    auto cut = self.find_last_of(std::string{'/', platform::dir_separator()});
    if (cut != std::string::npos) return self.substr(0, cut + 1);
    std::string here = platform::current_directory();
    return with_separator(here.empty() ? "." : here);
}

std::string working_folder() {
    std::string own = program_directory();
    if (platform::directory_writable(own)) return own;
    std::string here = platform::current_directory();
    return here.empty() ? own : with_separator(here);
}

namespace {

// <config>/quaylink/rowsmith-folder: one line, the folder.
std::string folder_memory_path(bool create_folders) {
    std::string config = platform::user_config_directory();
    if (config.empty()) return {};
    std::string dir = with_separator(config) + "quaylink";
    if (create_folders) {
        platform::make_directory(config);
        platform::make_directory(dir);
    }
    return with_separator(dir) + "rowsmith-folder";
}

}  // namespace

std::string remembered_folder() {
    const std::string path = folder_memory_path(false);
    std::string text;
    if (path.empty() || platform::read_file(path, text) != 0) return {};
    const size_t end = text.find_first_of("\r\n");
    return end == std::string::npos ? text : text.substr(0, end);
}

int remember_folder(const std::string& folder) {
    const std::string path = folder_memory_path(true);
    if (path.empty()) return ENOENT;
    return platform::write_file_atomic(path, folder + "\n", 0644);
}

std::string window_folder() {
    const std::string chosen = remembered_folder();
    if (!chosen.empty() && platform::is_directory(chosen)) return with_separator(chosen);
    return working_folder();
}

int run_window(int argc, char** argv, const Paths& paths, std::string& error) {
    using Entry = int (*)(int, char**, const char*, const char*, const char*);
    // Beside the program in the build tree; in the private module folder
    // when installed.
    auto entry = reinterpret_cast<Entry>(
        platform::module_function("rowsmith_window", "rowsmith_window_main", error));
    if (!entry) return kUsageExit;
    return entry(argc, argv, paths.workdir.c_str(), paths.source.c_str(), paths.target.c_str());
}

std::string usage_text() {
    return "Usage: rowsmith [-S<file>] [-T<file>] [-D] [-h] [--version]\n"
           "Appends one inventory record per line of DATA.TXT to DEVSCAN.CSV, then\n"
           "removes the converted lines from DATA.TXT. Both files are in the program's\n"
           "folder (the current folder when the program's folder is not writable, as\n"
           "for an installed copy) unless given otherwise.\n"
           "  -S<file>   data file to convert (default DATA.TXT)\n"
           "  -T<file>   inventory file to append to (default DEVSCAN.CSV)\n"
           "  -D         open the Rowsmith window instead of converting at once\n"
           "  -h, --help show this text\n"
           "  --version  show the versions of the suite and of the program\n"
           "Relative names are taken in that folder. Exit status: 0 converted,\n"
           "1 data file not opened, 2 inventory file not opened, 3 inventory file locked,\n"
           "4/5 inventory file not written, 6 data file not read, 7 data file not\n"
           "removed, 64 command line not understood.\n";
}

std::string version_text() {
    return std::string("rowsmith (quaylink suite) ") + QL_SUITE_VERSION + "\nRowsmith V1.01\n";
}

int exit_status(int result) {
    return result < 0 ? -result : result;
}

std::string message_line(const Message& message) {
    std::string line = message.caption + ": ";
    for (size_t i = 0; i < message.text.size(); ++i) {
        char c = message.text[i];
        if (c == '\r') continue;
        if (c == '\n')
            line += ": ";
        else
            line += c;
    }
    return line;
}

}  // namespace rowsmith
