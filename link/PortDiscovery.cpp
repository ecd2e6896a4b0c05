// Port listing through libserialport, restricted to USB ttys: asking it for the whole list would make it open
// every on-board 8250 port to probe whether the port exists, and one of those may be the machine's console.
#include "PortDiscovery.h"

#include <libserialport.h>

#include <algorithm>
#include <filesystem>

namespace fs = std::filesystem;

std::string MatchAdapterPort(const std::vector<SerialPortInfo>& ports, uint16_t vendorId,
                             uint16_t productId) {
    for (const SerialPortInfo& port : ports)
        if (port.vendorId == vendorId && port.productId == productId) return port.name;
    return {};
}

static bool IsOnUsb(const fs::path& ttyClassEntry) {
    std::error_code error;
    const fs::path device = fs::canonical(ttyClassEntry / "device", error);
    return !error && device.string().find("/usb") != std::string::npos;
}

std::vector<SerialPortInfo> ListUsbSerialPorts() {
    std::vector<SerialPortInfo> ports;
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
    std::sort(ports.begin(), ports.end(), [](const SerialPortInfo& a, const SerialPortInfo& b) {
        return a.name.size() != b.name.size() ? a.name.size() < b.name.size() : a.name < b.name;
    });
    return ports;
}

static std::optional<uint16_t> ParseHex16(std::string text) {
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text = text.substr(2);
    if (text.empty() || text.size() > 4 ||
        text.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
        return std::nullopt;
    return static_cast<uint16_t>(std::stoul(text, nullptr, 16));
}

std::optional<UsbId> ParseUsbId(const std::string& text) {
    const std::size_t colon = text.find(':');
    if (colon == std::string::npos) return std::nullopt;
    const auto vendor = ParseHex16(text.substr(0, colon));
    const auto product = ParseHex16(text.substr(colon + 1));
    if (!vendor || !product) return std::nullopt;
    return UsbId{*vendor, *product};
}

int PortNumberOf(const std::string& name) {
    std::size_t start = name.size();
    while (start > 0 && name[start - 1] >= '0' && name[start - 1] <= '9') --start;
    if (start == name.size() || name.size() - start > 5) return -1;
    return std::stoi(name.substr(start));
}
