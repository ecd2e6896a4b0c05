// Finding the adapter's serial port by its USB vendor and product IDs.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct CSerialPortInfo {
    std::string name;  // system name, e.g. /dev/ttyACM0 or COM5
    int vendorId;      // -1 when the port is not on USB
    int productId;
};

// Name of the first port with the given IDs, or empty: kept pure so the matching is tested without hardware.
std::string MatchAdapterPort(const std::vector<CSerialPortInfo>& ports, uint16_t vendorId,
                             uint16_t productId);

// The system's USB serial ports with their IDs, in the order the system lists them (Linux: by name).
// Nothing is opened or configured. PortDiscoveryLinux.cpp or PortDiscoveryWin32.cpp, as CMake picks.
std::vector<CSerialPortInfo> ListUsbSerialPorts();

// The port with the USB IDs a Windows device ID carries ("USB\VID_16C0&PID_05E1\6&1A2B"): the hex digits
// after "VID_" and after the first "PID_" that follows it, either case, low 16 bits; -1 for both without
// them.
CSerialPortInfo PortFromDeviceId(const std::string& name, const std::string& deviceId);

struct CUsbId {
    uint16_t vendorId;
    uint16_t productId;
};

// "VID:PID" with both halves as one to four hexadecimal digits (an optional 0x each), as lsusb prints
// them; nullopt for anything else, so a typo is refused rather than searched for.
std::optional<CUsbId> ParseUsbId(const std::string& text);

// Trailing decimal number of a port name (ttyACM12 -> 12, COM5 -> 5), -1 when there is none.
int PortNumberOf(const std::string& name);
