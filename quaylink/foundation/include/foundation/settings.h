// The server's settings: where the settings file is, and the process-wide
// values loaded from it.
#pragma once

#include <string>

namespace ql {

// Process-wide server settings.
struct ServerSettings {
    // Kept across loads; defaults set once when the window is created.
    int commport = 1;
    int baudrate = 57600;
    int interchardelay = 125;
    int connect_kind = 1;  // 0 direct, 1 irda, 2 usb
    bool modem = false;    // cleared only by the settings dialog
    // A commport value that is a device path ("/dev/ttyUSB0") instead of a
    // number; empty when commport is a number. Changes with commport.
    std::string commport_device;

    // Reset at every load.
    std::string workdir;  // ends in the directory separator when not empty
    std::string init[3];  // modem init strings
    bool altread = false;
    std::string host, user, password, ftpdir;
    bool passive = false;
    int ftpdataport = 0;
    bool lastftpsend = false;
    // FTP over TLS: 0 no, 1 explicit (AUTH TLS), 2 implicit. Any value other
    // than "no", "implicit" or empty means explicit: a site that asks for
    // TLS in words we do not know must not get plain text.
    int ftptls = 0;
    bool ftptlsverify = true;
    std::string ftpcafile;
    bool ftpepsv = false;  // EPSV first for passive transfers
    std::string iphost, ipport, ipuser;
    // Lines that face callers: confine keeps every name a terminal sends
    // inside the working folder tree; programs = false refuses LOAD, EXEC
    // and SYSTEM. The defaults leave the terminal the run of the machine.
    bool confine = false;
    bool programs = true;
};

inline constexpr int kConnectDirect = 0;
inline constexpr int kConnectIrda = 1;
inline constexpr int kConnectUsb = 2;

// Size of the 64-byte text fields: a value of 64 characters or more counts
// as missing.
inline constexpr size_t kFieldSize = 64;

ServerSettings& settings();

// The defaults of commport, baudrate, interchardelay and connect, and a
// cleared modem flag (done once when the window is created). Also empties
// every other setting, so tests can start clean.
void settings_reset_defaults();

// Loads every key from the settings file path, sets the debug flag, the log
// mode and the log path (deleting the log file in CREATE mode).
void settings_load();

// Program and settings paths.
struct ServerPaths {
    std::string program_dir;    // ends in the separator; may be empty
    std::string settings_name;  // "quaylink.ini" or the -I name
    std::string settings_path;  // full path of the settings file
    // The working directory when workdir is not set: the program directory,
    // or the current directory when the program directory is not writable.
    std::string default_workdir;
    // Set when the program directory is not writable and the settings file
    // moved to the user's configuration folder: a line for the status list.
    std::string relocation_note;
};

ServerPaths& server_paths();

// Determines the program directory (of the running executable, else the
// current directory) and the settings path. settings_name is the -I value,
// or empty for "quaylink.ini"; an absolute name is used as it stands.
void server_paths_init(const std::string& settings_name);

// Sets the program directory explicitly (tests, tools) and recomputes the
// settings path.
void server_paths_set(const std::string& program_dir, const std::string& settings_name);

// The working directory the server uses: workdir, or the default working
// directory (see ServerPaths) when workdir is empty.
std::string effective_workdir();

// Appends the directory separator when text does not end in one.
std::string with_trailing_separator(const std::string& dir);

}  // namespace ql
