// Port and cradle discovery: the serial ports and USB bridges come from
// the platform layer (the kernel's device tree on Linux, the registry on
// Windows); ports without a COM number of their own are numbered through
// the port map of the serial link; USB bridges are recognised by their
// driver or their name.
#include "serial/discovery.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <mutex>
#include <set>

#include "foundation/log.h"
#include "foundation/server_state.h"
#include "foundation/settings.h"
#include "platform/serial_ports.h"
#include "serial/port.h"

namespace ql {

namespace {

struct Entry {
    std::string text;       // what the settings dialog lists
    std::string device;     // device path behind it
    bool assigned = false;  // numbered here: the number alone does not reach it
};

std::mutex g_mutex;  // guards the table and the settings of this module
Entry g_table[kPortTableSize];
int g_count = 0;
platform::SerialPortSearch g_tree;
CradleProbe g_probe;
std::atomic<bool> g_cradle_request{false};

// One serial port of this machine, with its number in the port table.
struct TtyDevice {
    std::string name;          // ttyUSB0, COM5
    std::string path;          // what the port is opened through
    int number = 0;            // port number, 0 while unnumbered
    bool assigned = false;     // number given here, not by the OS or the port map
    std::string usb_device;    // the USB bridge's key, empty when not known
    bool os_numbered = false;  // the OS gives the number: its own name is listed
};

std::string cut(const std::string& text) {
    return text.size() > kPortEntryMax ? text.substr(0, kPortEntryMax) : text;
}

platform::SerialPortSearch device_tree() {
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_tree;
}

std::vector<TtyDevice> list_serial_devices(std::vector<platform::UsbSerialBridge>& bridges) {
    std::vector<platform::SerialPortInfo> ports;
    platform::list_serial_ports(device_tree(), ports, bridges);
    std::vector<TtyDevice> found;
    for (const auto& port : ports) {
        found.push_back(
            TtyDevice{port.name, port.device, port.number, false, port.bridge, port.number > 0});
    }
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
    return port_device_path(n) != platform::serial_port_device(n);
}

// Numbers every device: the OS's own number where it gives one (COMn),
// else the port map, then the first free number for USB devices that have
// none. A number is free when no device has it and the port map does not
// reserve it for another device. Devices that end without a number are
// dropped.
void number_devices(std::vector<TtyDevice>& devices) {
    bool used[kPortTableSize] = {};
    for (auto& tty : devices) {
        if (tty.number == 0) tty.number = mapped_number(tty.path);
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

bool is_bridge(const platform::UsbSerialBridge& usb) {
    return usb.driver == "cp210x" || usb.friendly_name.find("CP210x") != std::string::npos;
}

// One recognised bridge with every port it offers.
struct Bridge {
    std::string friendly;
    std::string match;  // friendly name naming its ports: "... (COM5, COM6)"
    int first_port = 0;
};

// The recognised bridges, in the order of their first port. Where the OS
// links ports to their bridge, the match text is made of the numbers found
// here; elsewhere the friendly name already names the port.
std::vector<Bridge> group_bridges(const std::vector<TtyDevice>& devices,
                                  const std::vector<platform::UsbSerialBridge>& usb,
                                  const std::set<std::string>& linked) {
    std::vector<Bridge> bridges;
    for (const auto& device : usb) {
        if (!is_bridge(device)) continue;
        Bridge b;
        b.friendly =
            device.friendly_name.empty() ? "CP210x USB to UART Bridge" : device.friendly_name;
        std::string ports;
        for (const auto& tty : devices) {
            if (tty.usb_device != device.key) continue;
            ports += (ports.empty() ? "" : ", ") + strformat("COM%d", tty.number);
        }
        if (linked.count(device.key) != 0 && ports.empty()) continue;  // none numbered
        b.match = ports.empty() ? b.friendly : b.friendly + " (" + ports + ")";
        for (int n = kPortTableSize - 1; n >= 1; --n) {
            if (contains_word(b.match, strformat("COM%d", n))) b.first_port = n;
        }
        if (b.first_port != 0) bridges.push_back(b);
    }
    std::stable_sort(bridges.begin(), bridges.end(),
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
    std::vector<platform::UsbSerialBridge> usb;
    std::vector<TtyDevice> devices = list_serial_devices(usb);
    std::set<std::string> linked;
    for (const auto& tty : devices) linked.insert(tty.usb_device);
    number_devices(devices);
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        for (auto& e : g_table) e = Entry{};
        g_count = 0;
        for (const auto& tty : devices) {
            // A port the OS numbers is listed by its own name (COM5); the
            // others by the number given them.
            std::string name = tty.os_numbered ? tty.name : strformat("COM%d", tty.number);
            g_table[tty.number] = Entry{cut(name), tty.path, tty.assigned};
            g_count++;
        }
    }
    Search search{dialog};
    for (const Bridge& bridge : group_bridges(devices, usb, linked)) visit_bridge(search, bridge);
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
    g_tree.sysfs_root = sysfs_root.empty() ? "/sys" : sysfs_root;
    g_tree.dev_dir = dev_dir.empty() ? "/dev" : dev_dir;
}

void set_cradle_probe(CradleProbe probe) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_probe = std::move(probe);
}

void discovery_reset() {
    std::lock_guard<std::mutex> lock(g_mutex);
    for (auto& e : g_table) e = Entry{};
    g_count = 0;
    g_tree = platform::SerialPortSearch{};
    g_probe = nullptr;
    g_cradle_request = false;
}

}  // namespace ql
