// Port listing through the device-setup services: every present device of the ports class, its USB IDs
// from its device instance ID and its "COMn" name from the registry value the port driver writes.
// In this order: the others need windows.h's types, and initguid.h makes devguid.h define the GUIDs here.
#include <windows.h>

#include <initguid.h>

#include <devguid.h>
#include <setupapi.h>

#include "link/PortDiscovery.h"

namespace {

// The "PortName" value of the device's hardware key ("COM5"); empty when the device is no COM port.
std::string ComNameOf(HDEVINFO devices, SP_DEVINFO_DATA& device) {
    const HKEY key = SetupDiOpenDevRegKey(devices, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (key == INVALID_HANDLE_VALUE) return {};
    char name[64] = {};
    DWORD size = sizeof name - 1;
    DWORD type = 0;
    const LONG result =
        RegQueryValueExA(key, "PortName", nullptr, &type, reinterpret_cast<BYTE*>(name), &size);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS || type != REG_SZ || std::string(name).rfind("COM", 0) != 0) return {};
    return name;
}

}  // namespace

std::vector<CSerialPortInfo> ListUsbSerialPorts() {
    std::vector<CSerialPortInfo> ports;
    const HDEVINFO devices = SetupDiGetClassDevsA(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
    if (devices == INVALID_HANDLE_VALUE) return ports;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD index = 0; SetupDiEnumDeviceInfo(devices, index, &device); ++index) {
        char instanceId[256] = {};
        if (!SetupDiGetDeviceInstanceIdA(devices, &device, instanceId, sizeof instanceId, nullptr)) continue;
        const std::string name = ComNameOf(devices, device);
        if (name.empty()) continue;
        const CSerialPortInfo port = PortFromDeviceId(name, instanceId);
        if (port.vendorId >= 0) ports.push_back(port);
    }
    SetupDiDestroyDeviceInfoList(devices);
    return ports;
}
