// Port and cradle discovery on Linux: the serial devices come from the
// kernel's device tree (class/tty), numbered through the port map of the
// serial link; USB bridges are recognised by their kernel driver or their
// product string.
#include "serial/discovery.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>

#include "foundation/log.h"
#include "foundation/server_state.h"
#include "foundation/settings.h"
#include "serial/port.h"

namespace ql {

namespace fs = std::filesystem;

namespace {

struct Entry {
    std::string text;       // what the settings dialog lists
    std::string device;     // device path behind it
    bool assigned = false;  // numbered here: the number alone does not reach it
};

std::mutex g_mutex;  // guards the table and the settings of this module
Entry g_table[kPortTableSize];
int g_count = 0;
std::string g_sysfs_root = "/sys";
std::string g_dev_dir = "/dev";
CradleProbe g_probe;
std::atomic<bool> g_cradle_request{false};

// One serial device found under class/tty.
struct TtyDevice {
    std::string name;        // ttyUSB0
    std::string path;        // /dev/ttyUSB0
    int number = 0;          // port number, 0 while unnumbered
    bool assigned = false;   // number given here, not by the port map
    std::string usb_device;  // the USB device's folder, empty when not USB
    std::string driver;      // kernel driver of the tty's device
    std::string vendor, product;
};

std::string cut(const std::string& text) {
    return text.size() > kPortEntryMax ? text.substr(0, kPortEntryMax) : text;
}

// First line of a small attribute file, without trailing blanks.
std::string read_attribute(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    if (!in || !std::getline(in, line)) return {};
    while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back()))) line.pop_back();
    return line;
}

// Name of the folder a link such as driver or subsystem points to.
std::string link_target_name(const fs::path& link) {
    std::error_code ec;
    fs::path target = fs::canonical(link, ec);
    return ec ? std::string() : target.filename().string();
}

// A legacy port name without hardware: the UART type reads 0 (unknown), or,
// on older kernels, the port is bound to the 8250 platform placeholder.
bool is_placeholder(const fs::path& tty, const fs::path& device) {
    if (read_attribute(tty / "type") == "0") return true;
    return link_target_name(device / "driver") == "serial8250" &&
           link_target_name(device / "subsystem") == "platform";
}

// Fills the USB details of a tty whose device sits below a USB device.
void find_usb_parent(const fs::path& sysfs, const fs::path& device, TtyDevice& tty) {
    tty.driver = link_target_name(device / "driver");
    std::error_code ec;
    fs::path dir = fs::canonical(device, ec);
    if (ec) return;
    const fs::path root = fs::canonical(sysfs, ec);
    for (; !dir.empty() && dir != dir.root_path() && dir != root; dir = dir.parent_path()) {
        if (tty.driver.empty()) tty.driver = link_target_name(dir / "driver");
        if (fs::exists(dir / "idVendor", ec)) {
            tty.usb_device = dir.string();
            tty.vendor = read_attribute(dir / "manufacturer");
            tty.product = read_attribute(dir / "product");
            return;
        }
    }
}

// Orders ttyS2 before ttyS10: the name's letters first, then its number.
bool natural_less(const std::string& a, const std::string& b) {
    auto split = [](const std::string& s) {
        size_t digits = s.find_last_not_of("0123456789") + 1;
        long number = -1;
        for (size_t i = digits; i < s.size() && i < digits + 9; ++i) {
            number = (number < 0 ? 0 : number * 10) + (s[i] - '0');
        }
        return std::make_pair(s.substr(0, digits), number);
    };
    return split(a) < split(b);
}

std::string sysfs_root() {
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_sysfs_root;
}

std::string dev_dir() {
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_dev_dir;
}

std::vector<TtyDevice> list_serial_devices() {
    const fs::path sysfs = sysfs_root();
    const std::string dev = dev_dir();
    std::vector<TtyDevice> found;
    std::error_code ec;
    fs::directory_iterator it(sysfs / "class" / "tty", ec), end;
    for (; !ec && it != end; it.increment(ec)) {
        const fs::path device = it->path() / "device";
        std::error_code exists_ec;
        if (!fs::exists(device, exists_ec) || is_placeholder(it->path(), device)) continue;
        TtyDevice tty;
        tty.name = it->path().filename().string();
        tty.path = dev + "/" + tty.name;
        find_usb_parent(sysfs, device, tty);
        found.push_back(tty);
    }
    std::sort(found.begin(), found.end(),
              [](const TtyDevice& a, const TtyDevice& b) { return natural_less(a.name, b.name); });
    return found;
}

// Port number of a device path through the port map, 0 when it has none.
int mapped_number(const std::string& path) {
    for (int n = 1; n <= kPortTableSize; ++n) {
        if (port_device_path(n) == path) return n;
    }
    return 0;
}

// A number the port map gives to some device explicitly.
bool explicitly_mapped(int n) {
    return port_device_path(n) != strformat("/dev/ttyS%d", n - 1);
}

// Numbers every device: the port map first, then the first free number for
// USB devices that have none. A number is free when no device has it and
// the port map does not reserve it for another device. Devices that end
// without a number are dropped.
void number_devices(std::vector<TtyDevice>& devices) {
    bool used[kPortTableSize] = {};
    for (auto& tty : devices) {
        tty.number = mapped_number(tty.path);
        if (tty.number > 0 && tty.number < kPortTableSize) used[tty.number] = true;
    }
    for (auto& tty : devices) {
        if (tty.number != 0 || tty.usb_device.empty()) continue;
        for (int n = 1; n < kPortTableSize; ++n) {
            if (!used[n] && !explicitly_mapped(n)) {
                used[n] = true;
                tty.number = n;
                tty.assigned = true;
                break;
            }
        }
    }
    std::erase_if(devices,
                  [](const TtyDevice& t) { return t.number <= 0 || t.number >= kPortTableSize; });
}

bool is_bridge(const TtyDevice& tty) {
    return !tty.usb_device.empty() &&
           (tty.driver == "cp210x" || tty.product.find("CP210x") != std::string::npos);
}

std::string friendly_name(const TtyDevice& tty) {
    std::string name = tty.vendor;
    if (!tty.product.empty()) name += (name.empty() ? "" : " ") + tty.product;
    return name.empty() ? std::string("CP210x USB to UART Bridge") : name;
}

// One recognised bridge with every port it offers.
struct Bridge {
    std::string friendly;
    std::string match;  // friendly name followed by its ports, "(COM5)"
    int first_port = 0;
};

std::vector<Bridge> group_bridges(const std::vector<TtyDevice>& devices) {
    std::map<std::string, Bridge> by_device;
    for (const auto& tty : devices) {
        if (!is_bridge(tty)) continue;
        Bridge& b = by_device[tty.usb_device];
        if (b.friendly.empty()) b.friendly = friendly_name(tty);
        b.match += (b.match.empty() ? "" : ", ") + strformat("COM%d", tty.number);
        if (b.first_port == 0 || tty.number < b.first_port) b.first_port = tty.number;
    }
    std::vector<Bridge> bridges;
    for (auto& [path, b] : by_device) {
        b.match = b.friendly + " (" + b.match + ")";
        bridges.push_back(b);
    }
    std::sort(bridges.begin(), bridges.end(),
              [](const Bridge& a, const Bridge& b) { return a.first_port < b.first_port; });
    return bridges;
}

bool probe_cradle(int port, int baud, int kind) {
    CradleProbe probe;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        probe = g_probe;
    }
    if (probe) return probe(port, baud, kind);

    // The number may not lead to the device yet (a USB port numbered here
    // has no entry in the port map): open the device found, through the
    // port setting's device path, and put the setting back afterwards.
    ServerSettings& s = settings();
    const int saved_port = s.commport;
    const std::string saved_device = s.commport_device;
    s.commport = port;
    s.commport_device = port_table_device(port);
    Port* opened = port_open(port, baud, kind);
    s.commport = saved_port;
    s.commport_device = saved_device;
    if (opened == nullptr) return false;
    port_close(opened);
    return true;
}

// State of one search over the bridges.
struct Search {
    SearchDialog* dialog;
    int result = 0;
    bool found = false;
};

// The bridge's port j was recognised: pick it, probing for a cradle when
// the operator asked for one on an IR cradle line.
void choose_port(Search& s, int j) {
    if (s.dialog == nullptr) {
        if (s.result == 0) s.result = j;
        s.found = true;
        return;
    }
    if (s.result == 0) s.result = j;
    if (!cradle_search_request() || settings().connect_kind != kConnectIrda) {
        s.found = true;
        return;
    }
    s.dialog->show_text(search_item::kCradle, "Searching for Cradle");
    if (probe_cradle(j, settings().baudrate, settings().connect_kind)) {
        s.dialog->show_text(search_item::kCradle, "Cradle Found");
        s.result = j;
        s.found = true;
    } else {
        s.dialog->show_text(search_item::kCradle, "Cradle Not Found");
    }
}

// Marks the entries of one bridge and searches it when nothing is found yet.
void visit_bridge(Search& s, const Bridge& bridge) {
    for (int j = 1; j < kPortTableSize; ++j) {
        std::string entry;
        {
            std::lock_guard<std::mutex> lock(g_mutex);
            if (g_table[j].text.empty()) continue;
            entry = g_table[j].text;
        }
        if (!contains_word(bridge.match, strformat("COM%d", j))) continue;
        if (s.dialog != nullptr && !s.found)
            s.dialog->show_text(search_item::kDevice, bridge.match);
        {
            std::lock_guard<std::mutex> lock(g_mutex);
            g_table[j].text = cut(entry + " (" + bridge.friendly + ")");
        }
        if (!s.found) choose_port(s, j);
    }
}

bool is_word_char(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0;
}

}  // namespace

bool contains_word(const std::string& text, const std::string& name) {
    if (name.empty()) return false;
    for (size_t at = text.find(name); at != std::string::npos; at = text.find(name, at + 1)) {
        bool starts = at == 0 || !is_word_char(text[at - 1]);
        size_t after = at + name.size();
        bool ends = after >= text.size() || !is_word_char(text[after]);
        if (starts && ends) return true;
    }
    return false;
}

int find_ports(SearchDialog* dialog) {
    std::vector<TtyDevice> devices = list_serial_devices();
    number_devices(devices);
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        for (auto& e : g_table) e = Entry{};
        g_count = 0;
        for (const auto& tty : devices) {
            g_table[tty.number] =
                Entry{cut(strformat("COM%d", tty.number)), tty.path, tty.assigned};
            g_count++;
        }
    }
    Search search{dialog};
    for (const Bridge& bridge : group_bridges(devices)) visit_bridge(search, bridge);
    return search.result != 0 ? search.result : 1;
}

void cradle_search_thread(SearchDialog* dialog) {
    int port = find_ports(dialog);
    settings().commport = port;
    settings().commport_device = port_table_assigned_device(port);
    if (dialog != nullptr) dialog->post_command(kSearchEndedCommand);
    server_state().worker_running = false;
    log_event("Setup Init thread Ending", 0, 0);
}

std::string port_table_entry(int n) {
    std::lock_guard<std::mutex> lock(g_mutex);
    return n >= 0 && n < kPortTableSize ? g_table[n].text : std::string();
}

std::vector<std::string> port_table() {
    std::lock_guard<std::mutex> lock(g_mutex);
    std::vector<std::string> out;
    for (const auto& e : g_table) out.push_back(e.text);
    return out;
}

int port_table_count() {
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_count;
}

std::string port_table_device(int n) {
    std::lock_guard<std::mutex> lock(g_mutex);
    return n >= 0 && n < kPortTableSize ? g_table[n].device : std::string();
}

std::string port_table_assigned_device(int n) {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (n < 0 || n >= kPortTableSize || !g_table[n].assigned) return {};
    return g_table[n].device;
}

void set_cradle_search_request(bool on) {
    g_cradle_request = on;
}
bool cradle_search_request() {
    return g_cradle_request;
}

void set_device_tree(const std::string& sysfs_root, const std::string& dev_dir) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_sysfs_root = sysfs_root.empty() ? "/sys" : sysfs_root;
    g_dev_dir = dev_dir.empty() ? "/dev" : dev_dir;
}

void set_cradle_probe(CradleProbe probe) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_probe = std::move(probe);
}

void discovery_reset() {
    std::lock_guard<std::mutex> lock(g_mutex);
    for (auto& e : g_table) e = Entry{};
    g_count = 0;
    g_sysfs_root = "/sys";
    g_dev_dir = "/dev";
    g_probe = nullptr;
    g_cradle_request = false;
}

}  // namespace ql
