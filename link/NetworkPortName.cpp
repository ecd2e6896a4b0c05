// Strict on purpose: a typo in a host or port should be named, not searched for on the network.
#include "link/NetworkPortName.h"

#include <algorithm>
#include <cctype>
#include <string_view>

namespace {

constexpr std::string_view kScheme = "rfc2217://";

bool Fail(std::string* problem, std::string text) {
    if (problem) *problem = std::move(text);
    return false;
}

}  // namespace

std::string CNetworkPortName::HostPort() const {
    const bool ipv6 = host.find(':') != std::string::npos;
    return (ipv6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

bool IsNetworkPortName(const std::string& name) {
    if (name.size() < kScheme.size()) return false;
    return std::equal(kScheme.begin(), kScheme.end(), name.begin(),
                      [](char a, char b) { return a == std::tolower(static_cast<unsigned char>(b)); });
}

std::optional<CNetworkPortName> ParseNetworkPortName(const std::string& name, std::string* problem) {
    const std::string form = " (rfc2217://HOST:PORT)";
    if (!IsNetworkPortName(name)) {
        Fail(problem, name + " is not a network port name" + form);
        return std::nullopt;
    }
    const std::string rest = name.substr(kScheme.size());
    CNetworkPortName result;
    std::string portText;
    if (!rest.empty() && rest[0] == '[') {
        const size_t close = rest.find(']');
        if (close == std::string::npos) {
            Fail(problem, "no closing bracket after the IPv6 address in " + name);
            return std::nullopt;
        }
        result.host = rest.substr(1, close - 1);
        const std::string after = rest.substr(close + 1);
        if (!after.empty() && after[0] != ':') {
            Fail(problem, "a colon and the TCP port must follow the IPv6 address in " + name + form);
            return std::nullopt;
        }
        if (!after.empty()) portText = after.substr(1);
    } else {
        const size_t colon = rest.rfind(':');
        result.host = colon == std::string::npos ? rest : rest.substr(0, colon);
        if (colon != std::string::npos) portText = rest.substr(colon + 1);
        if (result.host.find(':') != std::string::npos) {
            Fail(problem, "an IPv6 address needs brackets in " + name + " (rfc2217://[ADDRESS]:PORT)");
            return std::nullopt;
        }
        if (colon == std::string::npos && !result.host.empty()) {
            Fail(problem, "no TCP port in " + name + form);
            return std::nullopt;
        }
    }
    if (result.host.empty()) {
        Fail(problem, "no host in " + name + form);
        return std::nullopt;
    }
    if (portText.empty()) {
        Fail(problem, "no TCP port in " + name + form);
        return std::nullopt;
    }
    const bool digits = portText.size() <= 5 && std::all_of(portText.begin(), portText.end(), [](char c) {
                            return std::isdigit(static_cast<unsigned char>(c)) != 0;
                        });
    const long port = digits ? std::stol(portText) : 0;
    if (port < 1 || port > 65535) {
        Fail(problem, "TCP port " + portText + " out of range in " + name + " (1 to 65535)");
        return std::nullopt;
    }
    result.port = static_cast<uint16_t>(port);
    return result;
}
