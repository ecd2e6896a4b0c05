// Finding the adapter's serial port by its USB vendor and product IDs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct SerialPortInfo {
    std::string name;  // system name, e.g. /dev/ttyACM0
    int vendorId;      // -1 when the port is not on USB
    int productId;
};

// Name of the first port with the given IDs, or empty: kept pure so the matching is tested without hardware.
std::string MatchAdapterPort(const std::vector<SerialPortInfo>& ports, uint16_t vendorId, uint16_t productId);

// The system's USB serial ports with their IDs. Nothing is opened or configured.
std::vector<SerialPortInfo> ListUsbSerialPorts();

// Trailing decimal number of a port name (ttyACM12 -> 12, COM5 -> 5), -1 when there is none.
int PortNumberOf(const std::string& name);
