// The serial-port commands telnet's COM-PORT-OPTION carries (RFC 2217): what a client asks for, and the
// server's answers, which carry the same command code plus 100.
//
// Thread rules: pure functions.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace ComPort {
inline constexpr uint8_t SET_BAUDRATE = 1;
inline constexpr uint8_t SET_DATASIZE = 2;
inline constexpr uint8_t SET_PARITY = 3;
inline constexpr uint8_t SET_STOPSIZE = 4;
inline constexpr uint8_t SET_CONTROL = 5;
inline constexpr uint8_t NOTIFY_LINESTATE = 6;
inline constexpr uint8_t NOTIFY_MODEMSTATE = 7;
inline constexpr uint8_t FLOWCONTROL_SUSPEND = 8;
inline constexpr uint8_t FLOWCONTROL_RESUME = 9;
inline constexpr uint8_t PURGE_DATA = 12;
inline constexpr uint8_t SERVER_OFFSET = 100;

inline constexpr uint8_t PARITY_NONE = 1;
inline constexpr uint8_t STOPSIZE_1 = 1;
inline constexpr uint8_t CONTROL_NO_FLOW = 1;
inline constexpr uint8_t PURGE_RECEIVE = 1;
inline constexpr uint8_t PURGE_BOTH = 3;

// The sub-negotiation payload of a request: the command code, then its value (the rate as four bytes,
// most significant first; every other value one byte). A rate of 0 asks for the rate in effect.
std::vector<uint8_t> BaudRateRequest(uint32_t baud);
std::vector<uint8_t> ByteRequest(uint8_t command, uint8_t value);

struct CServerAnswer {
    uint8_t command = 0;  // the client's code it answers (the server's code less 100)
    uint32_t value = 0;   // the rate for SET-BAUDRATE, else the first value byte (0 when none)
};
// A server's sub-negotiation payload taken apart; nullopt for one that is not a server's or is cut short.
std::optional<CServerAnswer> ParseServerAnswer(const std::vector<uint8_t>& payload);
}  // namespace ComPort
