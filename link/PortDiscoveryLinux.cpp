// Port listing through libserialport, restricted to USB ttys: asking it for the whole list would make it open
// every on-board 8250 port to probe whether the port exists, and one of those may be the machine's console.
#include <libserialport.h>

#include <algorithm>
#include <filesystem>

#include "link/PortDiscovery.h"

namespace fs = std::filesystem;

static bool IsOnUsb(const fs::path& ttyClassEntry) {
    std::error_code error;
    const fs::path device = fs::canonical(ttyClassEntry / "device", error);
    return !error && device.string().find("/usb") != std::string::npos;
}

std::vector<CSerialPortInfo> ListUsbSerialPorts() {
    std::vector<CSerialPortInfo> ports;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator("/sys/class/tty", error)) {
        if (!IsOnUsb(entry.path())) continue;
        const std::string name = "/dev/" + entry.path().filename().string();
        struct sp_port* port = nullptr;
        if (sp_get_port_by_name(name.c_str(), &port) != SP_OK) continue;
        int vid = -1, pid = -1;
        if (sp_get_port_transport(port) == SP_TRANSPORT_USB) sp_get_port_usb_vid_pid(port, &vid, &pid);
        sp_free_port(port);
        ports.push_back({name, vid, pid});
    }
    // Directory order is arbitrary; name order makes "the first adapter" the same on every run.
    std::sort(ports.begin(), ports.end(), [](const CSerialPortInfo& a, const CSerialPortInfo& b) {
        return a.name.size() != b.name.size() ? a.name.size() < b.name.size() : a.name < b.name;
    });
    return ports;
}
