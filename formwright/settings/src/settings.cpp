// Load and save of the settings file, key by key through the profile module.
#include "formwright/settings.h"

#include <cstdio>
#include <string>

#include "platform/files.h"
#include "platform/paths.h"
#include "profile/profile.h"

namespace fw {

namespace {

struct State {
    Settings record;
    int changes = 0;
    std::string path = kSettingsFileName;
    SaveErrorHandler on_save_error;
};

State& state() {
    static State s;
    return s;
}

// Buffer for numeric keys: plenty for any number a person would write.
constexpr size_t kNumberWidth = 15;

// Reads the decimal number at the start of text (blanks and a sign allowed
// first). Returns false when there are no digits.
bool parse_decimal(const std::string& text, long& out) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    if (i >= text.size() || text[i] < '0' || text[i] > '9') return false;
    long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        if (value < 100000000) value = value * 10 + (text[i] - '0');
    }
    out = negative ? -value : value;
    return true;
}

// Reads keys into the record; whatever is missing, empty, too wide or out
// of range leaves the value already there (the default).
class Reader {
  public:
    explicit Reader(const std::string& path) : path_(path) {}

    void text(const char* section, const char* key, size_t width, std::string& slot) const {
        std::string value;
        // The buffer holds width characters plus the terminator.
        if (profile::profile_get(path_, section, key, value, "", width + 1) != profile::kFound)
            return;
        if (!value.empty()) slot = value;
    }

    void number(const char* section, const char* key, int lo, int hi, int& slot) const {
        std::string value;
        text(section, key, kNumberWidth, value);
        long n = 0;
        if (parse_decimal(value, n) && n >= lo && n <= hi) slot = static_cast<int>(n);
    }

  private:
    const std::string& path_;
};

// Writes keys until the first failure; later calls do nothing.
class Writer {
  public:
    explicit Writer(const std::string& path) : path_(path) {}

    void text(const char* section, const char* key, const std::string& value) {
        if (rc_ == 0) rc_ = profile::profile_put(path_, section, key, value.c_str(), 0);
    }
    void number(const char* section, const char* key, int value) {
        text(section, key, std::to_string(value));
    }
    int rc() const { return rc_; }

  private:
    const std::string& path_;
    int rc_ = 0;
};

void load_setup(const Reader& r, Settings& s) {
    r.text("setup", "BANNER", 12, s.banner);
    r.text("setup", "HEADER1", 12, s.header[0]);
    r.text("setup", "HEADER2", 12, s.header[1]);
    r.text("setup", "HEADER3", 12, s.header[2]);
    r.number("setup", "LOCFLAG", 0, 2, s.locflag);
    r.number("setup", "SORTED", 0, 1, s.sorted);
    r.number("setup", "USEQTY", 0, 1, s.useqty);
    r.number("setup", "LOOKUP", 0, 3, s.lookup);
    r.number("setup", "HEADER_TYPE", 0, 1, s.header_type);
    r.number("setup", "TIMESTAMP", 0, 1, s.timestamp);
    r.number("setup", "BACKLIGHT", 0, 2, s.backlight);
    r.number("setup", "CONNECT", 0, 4, s.connect);
    r.number("comm", "IRDA", 0, 1, s.irda);
    r.text("setup", "SCANNER", 63, s.scanner);
}

void load_modes(const Reader& r, Settings& s) {
    r.text("acoustic setup", "PHONE", 16, s.acoustic_phone);
    r.number("acoustic setup", "VOLUME", 0, 2, s.volume);
    r.number("acoustic setup", "STXETX", 0, 1, s.stxetx);
    r.number("acoustic setup", "PARITY", 0, 2, s.parity);
    r.number("acoustic setup", "BAUD", kBaudCodeFirst, kBaudCodeLast, s.burst_baud);
    r.number("quikbook setup", "BAUD", kBaudCodeFirst, kBaudCodeLast, s.quikbook_baud);
    r.text("ptap setup", "PHONE", 16, s.ptap_phone);
    r.number("ptap setup", "TURNAROUND", 0, 1, s.ptap_turnaround);
    r.number("ptap setup", "FLASH", 0, 1, s.ptap_flash);
}

void load_quaylink(const Reader& r, Settings& s) {
    r.number("ql setup", "QUAYLINK", 0, 5, s.ql_link);
    r.number("ql setup", "BAUD", kBaudCodeFirst, kBaudCodeLast, s.ql_baud);
    r.number("ql setup", "LOCAL", 0, 2, s.ql_local);
    r.number("ql setup", "SENDMODE", 0, 3, s.ql_sendmode);
    r.text("ql setup", "SENDFILE", 32, s.sendfile);
    r.text("ql setup", "LANDRIVE", 1, s.landrive);
    r.text("ql setup", "LANDIR", 32, s.landir);
    r.text("ql setup", "PHONE", 16, s.ql_phone);
    r.text("modem init", "init1", 32, s.modem_init[0]);
    r.text("modem init", "init2", 32, s.modem_init[1]);
    r.text("modem init", "init3", 32, s.modem_init[2]);
    r.text("ql setup", "FTPHOST", 16, s.ftphost);
    r.text("ql setup", "FTPUSER", 16, s.ftpuser);
    r.text("ql setup", "FTPPASS", 16, s.ftppass);
    r.text("ql setup", "FTPPORT", 4, s.ftpport);
    r.text("ql setup", "FTPCWD", 16, s.ftpcwd);
    r.number("ql setup", "FTPPASSIVE", 0, 1, s.ftppassive);
    r.number("ql setup", "TURNAROUND", 0, 1, s.ql_turnaround);
    r.number("ql setup", "FLASH", 0, 1, s.ql_flash);
}

void save_setup(Writer& w, const Settings& s) {
    w.text("setup", "BANNER", s.banner);
    w.text("setup", "HEADER1", s.header[0]);
    w.text("setup", "HEADER2", s.header[1]);
    w.text("setup", "HEADER3", s.header[2]);
    w.number("setup", "LOCFLAG", s.locflag);
    w.number("setup", "SORTED", s.sorted);
    w.number("setup", "USEQTY", s.useqty);
    w.number("setup", "LOOKUP", s.lookup);
    w.number("setup", "HEADER_TYPE", s.header_type);
    w.number("setup", "TIMESTAMP", s.timestamp);
    w.number("setup", "BACKLIGHT", s.backlight);
    w.number("setup", "CONNECT", s.connect);
    w.text("setup", "SCANNER", s.scanner);
}

void save_quaylink(Writer& w, const Settings& s) {
    w.number("ql setup", "QUAYLINK", s.ql_link);
    w.number("ql setup", "BAUD", s.ql_baud);
    w.number("ql setup", "LOCAL", s.ql_local);
    w.number("ql setup", "SENDMODE", s.ql_sendmode);
    w.text("ql setup", "SENDFILE", s.sendfile);
    w.text("ql setup", "LANDRIVE", s.landrive);
    w.text("ql setup", "LANDIR", s.landir);
    w.text("ql setup", "PHONE", s.ql_phone);
    w.text("modem init", "init1", s.modem_init[0]);
    w.text("modem init", "init2", s.modem_init[1]);
    w.text("modem init", "init3", s.modem_init[2]);
    w.number("ql setup", "TURNAROUND", s.ql_turnaround);
    w.number("ql setup", "FLASH", s.ql_flash);
    w.text("ql setup", "FTPHOST", s.ftphost);
    w.text("ql setup", "FTPUSER", s.ftpuser);
    w.text("ql setup", "FTPPASS", s.ftppass);
    w.text("ql setup", "FTPPORT", s.ftpport);
    w.text("ql setup", "FTPCWD", s.ftpcwd);
    w.number("ql setup", "FTPPASSIVE", s.ftppassive);
}

// Only the section of the mode in use is written; the others keep whatever
// the file holds for them.
void save_mode(Writer& w, const Settings& s) {
    switch (s.connect) {
        case kAcoustic:
            w.text("acoustic setup", "PHONE", s.acoustic_phone);
            w.number("acoustic setup", "STXETX", s.stxetx);
            w.number("acoustic setup", "PARITY", s.parity);
            w.number("acoustic setup", "VOLUME", s.volume);
            break;
        case kBurst:
            w.number("acoustic setup", "BAUD", s.burst_baud);
            w.number("acoustic setup", "STXETX", s.stxetx);
            w.number("comm", "IRDA", s.irda);
            break;
        case kQuickBooks:
            w.number("quikbook setup", "BAUD", s.quikbook_baud);
            w.number("comm", "IRDA", s.irda);
            break;
        case kPtap:
            w.text("ptap setup", "PHONE", s.ptap_phone);
            w.number("ptap setup", "TURNAROUND", s.ptap_turnaround);
            w.number("ptap setup", "FLASH", s.ptap_flash);
            break;
        case kQuaylink:
            save_quaylink(w, s);
            break;
        default:
            break;
    }
}

void report_to_stderr(const std::string& text, const std::string& caption) {
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
}

}  // namespace

Settings& settings() {
    return state().record;
}

int change_count() {
    return state().changes;
}

void set_change_count(int count) {
    state().changes = count;
}

void settings_reset() {
    State& s = state();
    s.record = Settings{};
    s.changes = 0;
    s.path = kSettingsFileName;
    s.on_save_error = nullptr;
}

void settings_set_directory(const std::string& directory) {
    std::string dir = directory;
    // A folder given with either separator at its end (Windows takes '/' as
    // well as '\\') gets no second one.
    if (!dir.empty() && !platform::is_dir_separator(dir.back())) dir += platform::dir_separator();
    state().path = dir + kSettingsFileName;
}

const std::string& settings_path() {
    return state().path;
}

void settings_load() {
    Settings& s = state().record;
    s = Settings{};
    const Reader r(state().path);
    load_setup(r, s);
    load_modes(r, s);
    load_quaylink(r, s);
    r.text("field definitions", "field1", 127, s.field[0]);
    r.text("field definitions", "field2", 127, s.field[1]);
    r.text("field definitions", "field3", 127, s.field[2]);
    r.text("field definitions", "field4", 127, s.field[3]);
}

void set_save_error_handler(SaveErrorHandler handler) {
    state().on_save_error = std::move(handler);
}

int settings_save() {
    const Settings& s = state().record;
    Writer w(state().path);
    save_setup(w, s);
    save_mode(w, s);
    w.text("field definitions", "field1", s.field[0]);
    w.text("field definitions", "field2", s.field[1]);
    w.text("field definitions", "field3", s.field[2]);
    w.text("field definitions", "field4", s.field[3]);
    if (w.rc() == 0) return 0;

    const std::string text =
        "Write Error \r\n" + state().path + " \r\nRC=" + std::to_string(w.rc());
    const SaveErrorHandler& handler = state().on_save_error;
    if (handler) {
        handler(text, "WRITE ERROR");
    } else {
        report_to_stderr(text, "WRITE ERROR");
    }
    return w.rc();
}

}  // namespace fw
