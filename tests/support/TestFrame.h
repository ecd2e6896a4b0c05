// Frames typed from their fields, with the protocol's checksum, for tests that check the bytes on the wire.
// Written here once, independently of the link's own encoder, so a fault in that encoder cannot hide itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// FF FF ID LEN CODE PARAMS... CHECKSUM: CODE is a request's instruction or a status's error byte.
inline std::vector<uint8_t> Frame(uint8_t id, uint8_t code, const std::vector<uint8_t>& params) {
    const uint8_t length = static_cast<uint8_t>(params.size() + 2);
    std::vector<uint8_t> frame;
    frame.reserve(params.size() + 6);
    for (uint8_t byte : {uint8_t{0xFF}, uint8_t{0xFF}, id, length, code}) frame.push_back(byte);
    unsigned sum = id + length + code;
    for (uint8_t byte : params) {
        frame.push_back(byte);
        sum += byte;
    }
    frame.push_back(static_cast<uint8_t>(~sum & 0xFF));
    return frame;
}
