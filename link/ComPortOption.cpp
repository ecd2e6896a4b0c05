// Rates travel as four bytes in network order, whatever the host's own order.
#include "link/ComPortOption.h"

namespace ComPort {

std::vector<uint8_t> BaudRateRequest(uint32_t baud) {
    return {SET_BAUDRATE, static_cast<uint8_t>(baud >> 24), static_cast<uint8_t>(baud >> 16),
            static_cast<uint8_t>(baud >> 8), static_cast<uint8_t>(baud)};
}

std::vector<uint8_t> ByteRequest(uint8_t command, uint8_t value) {
    return {command, value};
}

std::optional<CServerAnswer> ParseServerAnswer(const std::vector<uint8_t>& payload) {
    if (payload.empty() || payload[0] <= SERVER_OFFSET) return std::nullopt;
    CServerAnswer answer;
    answer.command = static_cast<uint8_t>(payload[0] - SERVER_OFFSET);
    if (answer.command == SET_BAUDRATE) {
        if (payload.size() < 5) return std::nullopt;
        answer.value = static_cast<uint32_t>(payload[1]) << 24 | static_cast<uint32_t>(payload[2]) << 16 |
                       static_cast<uint32_t>(payload[3]) << 8 | payload[4];
    } else if (payload.size() >= 2) {
        answer.value = payload[1];
    }
    return answer;
}

}  // namespace ComPort
