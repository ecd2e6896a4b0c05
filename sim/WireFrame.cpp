// Checksum and status-frame construction, kept apart from the host's codec so the two check each other.
#include "sim/WireFrame.h"

#include <algorithm>

namespace sim {

uint8_t FrameChecksum(std::span<const uint8_t> body) {
    uint8_t sum = 0;
    for (uint8_t b : body) sum = static_cast<uint8_t>(sum + b);
    return static_cast<uint8_t>(~sum);
}

std::vector<uint8_t> BuildStatusFrame(uint8_t id, uint8_t error, std::span<const uint8_t> params) {
    params = params.first(std::min(params.size(), MAX_PARAMS));
    std::vector<uint8_t> frame;
    frame.reserve(params.size() + PARAMS_OFFSET + 1);
    for (uint8_t b : {HEADER_BYTE, HEADER_BYTE, id, static_cast<uint8_t>(params.size() + 2), error})
        frame.push_back(b);
    for (uint8_t b : params) frame.push_back(b);
    frame.push_back(FrameChecksum(std::span(frame).subspan(ID_OFFSET)));
    return frame;
}

}  // namespace sim
