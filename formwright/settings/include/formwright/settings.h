// The terminal application's settings file "orderini": the in-memory record
// that the configurator edits, its load and save, and the text encoding of
// the data field definitions.
//
// All reading and writing goes through the profile module, key by key, so
// comments and keys this program does not know stay in the file untouched.
// The record, the change count and the file path are process-wide;
// settings_reset() starts them clean.
#pragma once

#include <array>
#include <functional>
#include <string>

namespace fw {

inline constexpr const char* kSettingsFileName = "orderini";
inline constexpr const char* kDefaultBanner = "Formwright";
inline constexpr const char* kDefaultScanner = "1010101111000000000110100";
inline constexpr const char* kDefaultSendFile = "DATA.TXT";
inline constexpr const char* kDefaultLanDrive = "C";
inline constexpr const char* kDefaultLanDir = "\\QUAYLINK\\";
inline constexpr const char* kDefaultFtpPort = "21";

// Communication mode (CONNECT).
enum Connect { kAcoustic = 0, kBurst = 1, kQuickBooks = 2, kPtap = 3, kQuaylink = 4 };
// Link of the quaylink mode (QUAYLINK).
enum QlLink { kDirect = 0, kIrda = 1, kBluetooth = 2, kModem = 3, kWlan = 4, kGprs = 5 };
// Package location (LOCAL).
enum Location { kLocal = 0, kLan = 1, kFtp = 2 };
// Data send mode (SENDMODE).
enum SendMode { kStandard = 0, kOverwrite = 1, kAppend = 2, kDataBin = 3 };
// Entry check of a data field.
enum Validation { kValidOff = 0, kMod10Dad = 2, kMod10Tat = 3, kValidDate = 4, kValidTime = 5 };

// Baud codes of every BAUD key: 2 = 9600 ... 7 = 115200.
inline constexpr int kBaudCodeFirst = 2;
inline constexpr int kBaudCodeLast = 7;

// Positions in the SCANNER flag string.
inline constexpr int kScanLabelFlags = 21;  // 0..20: one box each
inline constexpr int kMsiDropPos = 21;      // 21, 22
inline constexpr int kMsiCheckPos = 23;     // 23, 24, 25
inline constexpr int kInterleaved25Pos = 1;

// The decoded form of one data field's option string.
struct FieldOptions {
    bool right_to_left = false;
    bool scan_off = false;
    int accept_min = 0;   // 0 = none
    int accept_max = 0;   // 0 = none
    int scan_length = 0;  // 0 = none
    int validation = kValidOff;
    std::string mask;  // up to 19 characters

    bool operator==(const FieldOptions&) const = default;
};

// Every value of the settings file; the initial values are the defaults.
struct Settings {
    // [setup]
    std::string banner = kDefaultBanner;
    std::array<std::string, 3> header;  // an empty label switches the field off
    int locflag = 0;                    // 0 off, 1 link to item, 2 auto-link
    int sorted = 0;                     // duplicate item alert
    int useqty = 1;
    int lookup = 0;  // 0 off, 1 validate, 2 show, 3 both
    int header_type = 0;
    int timestamp = 0;
    int backlight = 1;  // 0 off, 1 standard, 2 always on
    int connect = kAcoustic;
    std::string scanner = kDefaultScanner;
    // [comm]
    int irda = 1;  // the dialogs show "Direct Connect" = !irda
    // [acoustic setup], shared by the acoustic and burst modes
    std::string acoustic_phone;
    int volume = 1;  // low, medium, high
    int stxetx = 0;
    int parity = 1;  // none, odd, even
    int burst_baud = 5;
    // [quikbook setup]
    int quikbook_baud = 5;
    // [ptap setup]
    std::string ptap_phone;
    int ptap_turnaround = 0;
    int ptap_flash = 1;
    // [ql setup]
    int ql_link = kDirect;
    int ql_baud = 5;
    int ql_local = kLocal;
    int ql_sendmode = kAppend;
    std::string sendfile = kDefaultSendFile;
    std::string landrive = kDefaultLanDrive;
    std::string landir = kDefaultLanDir;
    std::string ql_phone;
    int ql_turnaround = 0;
    int ql_flash = 1;
    std::string ftphost;  // dotted IPv4 text
    std::string ftpuser;
    std::string ftppass;
    std::string ftpport = kDefaultFtpPort;
    std::string ftpcwd;
    int ftppassive = 0;
    // [modem init]
    std::array<std::string, 3> modem_init;
    // [field definitions]: field1..field3, then field4 for the item
    std::array<std::string, 4> field;

    bool operator==(const Settings&) const = default;
};

// The process-wide record.
Settings& settings();

// Edits counted since the last load; saving is offered only above 0.
int change_count();
void set_change_count(int count);

// Replaces slot with value when they differ and counts one change.
// Returns true when it changed.
template <class T>
bool collect(T& slot, const T& value) {
    if (slot == value) return false;
    slot = value;
    set_change_count(change_count() + 1);
    return true;
}

// Record to defaults, change count 0, file path back to plain "orderini",
// save-error handler back to the default (standard error).
void settings_reset();

// Sets the working directory: the file becomes directory + separator +
// "orderini" (no separator added when the directory already ends in one);
// an empty directory means plain "orderini" in the current directory.
void settings_set_directory(const std::string& directory);

// The settings file path.
const std::string& settings_path();

// Fills the record with the defaults, then reads every key. A missing file,
// a missing or empty key, a value too long for its width, or a number
// outside its range keeps the default. Never reports errors. Does not touch
// the change count.
void settings_load();

// Receives the text and caption of the save failure message.
using SaveErrorHandler = std::function<void(const std::string& text, const std::string& caption)>;

// Installs the handler that shows the save failure; nullptr restores the
// default, which prints to standard error.
void set_save_error_handler(SaveErrorHandler handler);

// Writes the record: [setup], the section of the current communication mode
// only, then [field definitions]. The first failed write stops the save,
// reports "Write Error \r\n<path> \r\nRC=<code>" with caption "WRITE ERROR"
// through the handler and returns the profile module's (negative) code;
// keys written before it stay written. Returns 0 on success.
int settings_save();

// Decodes an option string such as "-R,-m4,-M10,-XNNNN,-V2". Never fails:
// unknown tokens are ignored.
FieldOptions field_options_parse(const std::string& text);

// Encodes a record. scan_length_text is the text of the field's scan-length
// entry: when it is empty no scan-length option is written at all. The
// result is at most 63 characters.
std::string field_options_format(const FieldOptions& options, const std::string& scan_length_text);

// The SCANNER string as the scanner dialog shows it.
struct ScannerChoice {
    std::array<bool, kScanLabelFlags> label{};  // positions 0..20
    int msi_drop = 0;                           // 0 none, 1 one, 2 two
    int msi_check = 0;                          // 0 none, 1 mod 10, 2 mod 10 x 2, 3 mod 10 + 11
};

// Reads the flags; positions past the end of the text count as off, and a
// radio group shows the first of its positions that holds "1".
ScannerChoice scanner_decode(const std::string& flags);

// Writes a choice into flags and returns the new text. A box turns "0" into
// "1" or "1" into "0"; other characters stay. The text grows with "0"s only
// where a "1" must be written (so "Mod 10 + 11" makes it 26 characters);
// writing off past the end changes nothing.
std::string scanner_encode(const std::string& flags, const ScannerChoice& choice);

// Sets one position to "1", growing the text with "0"s when it is shorter.
std::string scanner_flag_on(const std::string& flags, int position);

}  // namespace fw
