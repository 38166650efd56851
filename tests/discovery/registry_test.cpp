// Port discovery on Windows: the serial device map and the USB enumeration
// of the registry, written here (HKEY_LOCAL_MACHINE is writable under wine
// and on a test machine run as administrator) and read back through
// find_ports. Numbers far above the COM links of the test launcher keep the
// entries apart from ports the system lists itself.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "platform/serial_ports.h"
#include "serial/discovery.h"
#include "serial/port.h"

namespace {

const wchar_t kDeviceMap[] = L"HARDWARE\\DEVICEMAP\\SERIALCOMM";
const wchar_t kBridgeKey[] = L"SYSTEM\\CurrentControlSet\\Enum\\USB\\VID_10C4&PID_EA60";
const wchar_t kBridgeInstance[] = L"QLTEST0001";

bool set_string(const wchar_t* key_name, const wchar_t* value, const std::wstring& data) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, key_name, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return false;
    LSTATUS status =
        RegSetValueExW(key, value, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                       static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

void delete_value(const wchar_t* key_name, const wchar_t* value) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key_name, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
        return;
    RegDeleteValueW(key, value);
    RegCloseKey(key);
}

// Registry entries of one test, removed again at its end.
class RegistryPorts : public testing::Test {
  protected:
    void TearDown() override {
        for (const auto& value : values_) delete_value(kDeviceMap, value.c_str());
        HKEY bridge = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kBridgeKey, 0, KEY_ALL_ACCESS, &bridge) ==
            ERROR_SUCCESS) {
            RegDeleteKeyW(bridge, kBridgeInstance);
            RegCloseKey(bridge);
        }
        ql::discovery_reset();
    }

    void add_port(const std::wstring& device, const std::wstring& name) {
        values_.push_back(device);
        ASSERT_TRUE(set_string(kDeviceMap, device.c_str(), name));
    }

    void add_bridge(const std::wstring& friendly) {
        std::wstring key = std::wstring(kBridgeKey) + L"\\" + kBridgeInstance;
        ASSERT_TRUE(set_string(key.c_str(), L"FriendlyName", friendly));
    }

  private:
    std::vector<std::wstring> values_;
};

TEST_F(RegistryPorts, RegisteredPortsFillTheTableUnderTheirOwnNames) {
    add_port(L"\\Device\\QlTest23", L"COM23");
    add_port(L"\\Device\\QlTest29", L"COM29");
    add_port(L"\\Device\\QlTest40", L"COM40");  // beyond the table
    ql::find_ports(nullptr);
    std::vector<std::string> table = ql::port_table();
    EXPECT_EQ(table[23], "COM23");
    EXPECT_EQ(table[29], "COM29");
    EXPECT_EQ(ql::port_table_device(23), "\\\\.\\COM23");
    EXPECT_EQ(ql::port_table_assigned_device(23), "");  // the number alone reaches it
    EXPECT_GE(ql::port_table_count(), 2);
}

TEST_F(RegistryPorts, ACp210xBridgeIsNamedInItsEntryAndChosen) {
    add_port(L"\\Device\\QlTest23", L"COM23");
    add_port(L"\\Device\\QlTest27", L"COM27");
    add_bridge(L"Silicon Labs CP210x USB to UART Bridge (COM27)");
    EXPECT_EQ(ql::find_ports(nullptr), 27);
    std::vector<std::string> table = ql::port_table();
    EXPECT_EQ(table[27], "COM27 (Silicon Labs CP210x USB ");  // cut to 31 characters
    EXPECT_EQ(table[23], "COM23");
}

TEST_F(RegistryPorts, OnlyTheWholePortNameInTheBridgeNameMatches) {
    add_port(L"\\Device\\QlTest2", L"COM2");
    add_port(L"\\Device\\QlTest22", L"COM22");
    // Names COM22 only: the entry of COM2 is not a match inside it.
    add_bridge(L"CP210x Bridge (COM22)");
    EXPECT_EQ(ql::find_ports(nullptr), 22);
    EXPECT_EQ(ql::port_table()[2], "COM2");
}

TEST(WindowsPortNames, EveryPortIsReachedThroughTheDeviceNamespace) {
    EXPECT_EQ(platform::serial_port_device(1), "\\\\.\\COM1");
    EXPECT_EQ(platform::serial_port_device(9), "\\\\.\\COM9");
    EXPECT_EQ(platform::serial_port_device(12), "\\\\.\\COM12");
    EXPECT_EQ(platform::serial_port_device(0), "");
    EXPECT_EQ(ql::port_device_path(12), "\\\\.\\COM12");
    EXPECT_EQ(ql::port_display_name(12), "COM12");
}

}  // namespace
