// The serial ports of a Linux machine, from the kernel's device tree
// (class/tty); USB bridges are the USB devices the ttys sit below.
#include "platform/serial_ports.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>

namespace platform {

namespace fs = std::filesystem;

namespace {

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

// The USB device a tty's device sits below, with the driver nearest to the
// tty; the bridge's key stays empty when it is not on USB.
UsbSerialBridge find_usb_parent(const fs::path& sysfs, const fs::path& device) {
    UsbSerialBridge bridge;
    bridge.driver = link_target_name(device / "driver");
    std::error_code ec;
    fs::path dir = fs::canonical(device, ec);
    if (ec) return bridge;
    const fs::path root = fs::canonical(sysfs, ec);
    for (; !dir.empty() && dir != dir.root_path() && dir != root; dir = dir.parent_path()) {
        if (bridge.driver.empty()) bridge.driver = link_target_name(dir / "driver");
        if (fs::exists(dir / "idVendor", ec)) {
            bridge.key = dir.string();
            std::string vendor = read_attribute(dir / "manufacturer");
            std::string product = read_attribute(dir / "product");
            bridge.friendly_name = vendor;
            if (!product.empty()) bridge.friendly_name += (vendor.empty() ? "" : " ") + product;
            return bridge;
        }
    }
    return bridge;
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

}  // namespace

std::string serial_port_device(int n) {
    if (n < 1) return std::string();
    return "/dev/ttyS" + std::to_string(n - 1);
}

bool serial_device_paths_supported() {
    return true;
}

void list_serial_ports(const SerialPortSearch& where, std::vector<SerialPortInfo>& ports,
                       std::vector<UsbSerialBridge>& bridges) {
    ports.clear();
    bridges.clear();
    const fs::path sysfs = where.sysfs_root;
    std::map<std::string, UsbSerialBridge> by_key;
    std::error_code ec;
    fs::directory_iterator it(sysfs / "class" / "tty", ec), end;
    for (; !ec && it != end; it.increment(ec)) {
        const fs::path device = it->path() / "device";
        std::error_code exists_ec;
        if (!fs::exists(device, exists_ec) || is_placeholder(it->path(), device)) continue;
        SerialPortInfo port;
        port.name = it->path().filename().string();
        port.device = where.dev_dir + "/" + port.name;
        UsbSerialBridge bridge = find_usb_parent(sysfs, device);
        port.bridge = bridge.key;
        if (!bridge.key.empty()) by_key.emplace(bridge.key, bridge);
        ports.push_back(port);
    }
    std::sort(ports.begin(), ports.end(), [](const SerialPortInfo& a, const SerialPortInfo& b) {
        return natural_less(a.name, b.name);
    });
    for (auto& [key, bridge] : by_key) bridges.push_back(bridge);
}

}  // namespace platform
