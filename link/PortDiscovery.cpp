// The system-independent half of the adapter search: matching listed ports, reading IDs and port numbers.
#include "link/PortDiscovery.h"

#include <cctype>

std::string MatchAdapterPort(const std::vector<CSerialPortInfo>& ports, uint16_t vendorId,
                             uint16_t productId) {
    for (const CSerialPortInfo& port : ports)
        if (port.vendorId == vendorId && port.productId == productId) return port.name;
    return {};
}

namespace {

// Hexadecimal digits from pos on, either case, up to the first other character; low 16 bits kept.
int HexAt(const std::string& text, std::size_t pos) {
    unsigned value = 0;
    for (; pos < text.size() && std::isxdigit(static_cast<unsigned char>(text[pos])); ++pos) {
        const char c = static_cast<char>(std::toupper(static_cast<unsigned char>(text[pos])));
        value = (value << 4 | static_cast<unsigned>(c <= '9' ? c - '0' : c - 'A' + 10)) & 0xFFFF;
    }
    return static_cast<int>(value);
}

}  // namespace

CSerialPortInfo PortFromDeviceId(const std::string& name, const std::string& deviceId) {
    const std::size_t vid = deviceId.find("VID_");
    if (vid == std::string::npos) return {name, -1, -1};
    const std::size_t pid = deviceId.find("PID_", vid + 4);
    if (pid == std::string::npos) return {name, -1, -1};
    return {name, HexAt(deviceId, vid + 4), HexAt(deviceId, pid + 4)};
}

static std::optional<uint16_t> ParseHex16(std::string text) {
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text = text.substr(2);
    if (text.empty() || text.size() > 4 ||
        text.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
        return std::nullopt;
    return static_cast<uint16_t>(std::stoul(text, nullptr, 16));
}

std::optional<CUsbId> ParseUsbId(const std::string& text) {
    const std::size_t colon = text.find(':');
    if (colon == std::string::npos) return std::nullopt;
    const auto vendor = ParseHex16(text.substr(0, colon));
    const auto product = ParseHex16(text.substr(colon + 1));
    if (!vendor || !product) return std::nullopt;
    return CUsbId{*vendor, *product};
}

int PortNumberOf(const std::string& name) {
    std::size_t start = name.size();
    while (start > 0 && name[start - 1] >= '0' && name[start - 1] <= '9') --start;
    if (start == name.size() || name.size() - start > 5) return -1;
    return std::stoi(name.substr(start));
}
