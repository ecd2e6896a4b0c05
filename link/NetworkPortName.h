// The name of a serial port on another computer, reached through telnet's COM-PORT-OPTION:
// rfc2217://HOST:PORT, with an IPv6 address in brackets (rfc2217://[::1]:4000).
//
// Thread rules: pure functions.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

struct CNetworkPortName {
    std::string host;  // a name, an IPv4 address or an IPv6 address without its brackets
    uint16_t port = 0;

    // "HOST:PORT" as the operator would write it, brackets around an IPv6 address.
    std::string HostPort() const;
};

// True when the name asks for a network port (it starts with rfc2217://, in any case), well formed or not.
bool IsNetworkPortName(const std::string& name);
// The host and TCP port of a network port name; nullopt with one phrase naming the fault in *problem.
std::optional<CNetworkPortName> ParseNetworkPortName(const std::string& name, std::string* problem);
