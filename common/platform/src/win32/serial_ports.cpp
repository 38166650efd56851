// The serial ports of a Windows machine, from the registry: the serial
// device map for the ports, the USB enumeration for the bridges' names.
#include "platform/serial_ports.h"

#include <windows.h>

#include "win32_support.h"

namespace platform {

namespace {

const wchar_t kDeviceMap[] = L"HARDWARE\\DEVICEMAP\\SERIALCOMM";
const wchar_t kUsbEnum[] = L"SYSTEM\\CurrentControlSet\\Enum\\USB";

// An open registry key, closed when it goes.
class Key {
  public:
    Key(HKEY parent, const std::wstring& name) {
        if (RegOpenKeyExW(parent, name.c_str(), 0, KEY_READ, &key_) != ERROR_SUCCESS)
            key_ = nullptr;
    }
    ~Key() {
        if (key_ != nullptr) RegCloseKey(key_);
    }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;

    bool is_open() const { return key_ != nullptr; }
    HKEY get() const { return key_; }

  private:
    HKEY key_ = nullptr;
};

// A string value as stored (REG_SZ / REG_EXPAND_SZ), without its
// terminating zeros; false when missing or of another type.
bool read_string(HKEY key, const wchar_t* name, DWORD index, std::string* value_name,
                 std::string& out) {
    wchar_t name_buffer[256];
    DWORD name_length = 256;
    wchar_t data[512];
    DWORD type = 0, bytes = sizeof data - sizeof(wchar_t);
    LSTATUS status;
    if (name != nullptr) {
        status = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data), &bytes);
    } else {
        status = RegEnumValueW(key, index, name_buffer, &name_length, nullptr, &type,
                               reinterpret_cast<BYTE*>(data), &bytes);
    }
    if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return false;
    std::wstring text(data, bytes / sizeof(wchar_t));
    while (!text.empty() && text.back() == L'\0') text.pop_back();
    out = win32::narrow(text);
    if (value_name != nullptr) *value_name = win32::narrow(std::wstring(name_buffer, name_length));
    return true;
}

// The names of a key's subkeys, in registry order.
std::vector<std::wstring> subkeys(HKEY key) {
    std::vector<std::wstring> names;
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD length = 256;
        LSTATUS status = RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS) break;
        if (status == ERROR_SUCCESS) names.emplace_back(name, length);
        if (status != ERROR_SUCCESS && status != ERROR_MORE_DATA) break;
    }
    return names;
}

// The number a port name ends in (COM12 -> 12), 0 without digits.
int trailing_number(const std::string& name) {
    size_t digits = name.find_last_not_of("0123456789") + 1;
    if (digits >= name.size() || name.size() - digits > 4) return 0;
    return std::stoi(name.substr(digits));
}

void list_device_map(std::vector<SerialPortInfo>& ports) {
    Key map(HKEY_LOCAL_MACHINE, kDeviceMap);
    if (!map.is_open()) return;
    for (DWORD i = 0;; ++i) {
        std::string value_name, data;
        if (!read_string(map.get(), nullptr, i, &value_name, data)) {
            // A value of another type is skipped; the end stops the walk.
            wchar_t probe[256];
            DWORD length = 256;
            if (RegEnumValueW(map.get(), i, probe, &length, nullptr, nullptr, nullptr, nullptr) ==
                ERROR_NO_MORE_ITEMS)
                break;
            continue;
        }
        SerialPortInfo port;
        port.name = data;
        port.number = trailing_number(data);
        port.device = port.number > 0 ? serial_port_device(port.number) : "\\\\.\\" + data;
        ports.push_back(port);
    }
}

void list_usb_devices(std::vector<UsbSerialBridge>& bridges) {
    Key usb(HKEY_LOCAL_MACHINE, kUsbEnum);
    if (!usb.is_open()) return;
    for (const std::wstring& device_name : subkeys(usb.get())) {
        Key device(usb.get(), device_name);
        if (!device.is_open()) continue;
        for (const std::wstring& instance_name : subkeys(device.get())) {
            Key instance(device.get(), instance_name);
            std::string friendly;
            if (!instance.is_open() ||
                !read_string(instance.get(), L"FriendlyName", 0, nullptr, friendly))
                continue;
            UsbSerialBridge bridge;
            bridge.key = win32::narrow(device_name + L"\\" + instance_name);
            bridge.friendly_name = friendly;
            bridges.push_back(bridge);
        }
    }
}

}  // namespace

std::string serial_port_device(int n) {
    if (n < 1) return std::string();
    return "\\\\.\\COM" + std::to_string(n);
}

bool serial_device_paths_supported() {
    return false;
}

void list_serial_ports(const SerialPortSearch& where, std::vector<SerialPortInfo>& ports,
                       std::vector<UsbSerialBridge>& bridges) {
    (void)where;  // the registry is the only source here
    ports.clear();
    bridges.clear();
    list_device_map(ports);
    list_usb_devices(bridges);
}

}  // namespace platform
