// The serial ports of this machine and their names, OS-neutral.
//
// None of these functions opens a port or waits for a device: they read the
// OS's own lists (the kernel's device tree on Linux, the registry on
// Windows), which answer at once.
#pragma once

#include <string>
#include <vector>

namespace platform {

// The device name serial_open takes for COM port n when nothing else is
// configured (empty for n < 1): "/dev/ttyS<n-1>" on POSIX; "\\.\COM<n>" on
// Windows, the device namespace form that reaches every n (COM1 to COM9
// included, so that a file named COM1 in the working folder is never
// opened by mistake).
std::string serial_port_device(int n);

// True where a port may be reached through a device path chosen in the
// settings (a port map, a device path beside the port number, ports that
// discovery numbers itself): POSIX. On Windows every port has its COM
// number from the OS and serial_port_device(n) is its only name.
bool serial_device_paths_supported();

// One serial port the OS lists.
struct SerialPortInfo {
    std::string name;    // as the OS lists it: "ttyUSB0", "COM5"
    std::string device;  // what serial_open takes: "/dev/ttyUSB0", "\\.\COM5"
    int number = 0;      // the COM number the OS gives it; 0 on POSIX (none)
    std::string bridge;  // key of the USB bridge it sits on (below); empty when none is known
};

// One USB device that offers serial ports (a USB-to-UART bridge).
struct UsbSerialBridge {
    std::string key;            // identity of the device (a sysfs folder, a registry key)
    std::string friendly_name;  // POSIX: manufacturer and product strings joined by a
                                // blank (either may be empty); Windows: the
                                // "FriendlyName" of the device, which names its
                                // port in parentheses: "... (COM5)"
    std::string driver;         // the kernel driver ("cp210x"); empty on Windows
};

// Where the POSIX side reads the device tree: the sysfs root and the device
// folder (tests point both at a fake tree). Ignored on Windows.
struct SerialPortSearch {
    std::string sysfs_root = "/sys";
    std::string dev_dir = "/dev";
};

// Lists the serial ports that have hardware behind them, and the USB
// devices offering serial ports. POSIX: every tty of the kernel's class/tty
// with a device behind it, legacy port names without a UART left out,
// sorted naturally by name (ttyS2 before ttyS10); a port on a USB device
// names its bridge, whose strings come from that device. Windows: the
// values of HKEY_LOCAL_MACHINE\HARDWARE\DEVICEMAP\SERIALCOMM in
// registry order (the value data is the port name; number is its trailing
// decimal digits, 0 without any), and every instance under
// HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Enum\USB (device, then
// instance) that holds a "FriendlyName"; the ports do not name a bridge
// there (the friendly name names the port). A list that cannot be read is
// empty; reading it never fails otherwise.
void list_serial_ports(const SerialPortSearch& where, std::vector<SerialPortInfo>& ports,
                       std::vector<UsbSerialBridge>& bridges);

}  // namespace platform
