// Frame layout, instruction codes and the checksum shared by requests and status frames on the servo bus.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace sim {

// FF FF ID LEN INSTR|ERROR PARAMS... CHECKSUM, with LEN = number of params + 2.
inline constexpr uint8_t HEADER_BYTE = 0xFF;
inline constexpr uint8_t BROADCAST_ID = 0xFE;
inline constexpr std::size_t FRAME_OVERHEAD = 4;  // header, ID and checksum around LEN bytes
inline constexpr std::size_t ID_OFFSET = 2;
inline constexpr std::size_t LEN_OFFSET = 3;
inline constexpr std::size_t INSTRUCTION_OFFSET = 4;
inline constexpr std::size_t PARAMS_OFFSET = 5;
inline constexpr std::size_t MAX_PARAMS = 253;  // LEN is one byte

namespace instr {
inline constexpr uint8_t PING = 0x01;
inline constexpr uint8_t READ = 0x02;
inline constexpr uint8_t WRITE = 0x03;
inline constexpr uint8_t REG_WRITE = 0x04;
inline constexpr uint8_t ACTION = 0x05;
inline constexpr uint8_t RESET = 0x06;
inline constexpr uint8_t BOOT_LOADER = 0x08;
inline constexpr uint8_t SYNC_WRITE = 0x83;
}  // namespace instr

// Status error bits this simulator raises.
inline constexpr uint8_t INSTRUCTION_ERROR = 0x40;

// Checksum over ID, LEN, instruction/error and params: the complement of their 8-bit sum.
// `body` is the frame from the ID byte up to (not including) the checksum.
uint8_t FrameChecksum(std::span<const uint8_t> body);

// A complete status frame; params beyond kMaxParams are cut off.
std::vector<uint8_t> BuildStatusFrame(uint8_t id, uint8_t error, std::span<const uint8_t> params);

// Views of a well-formed frame (as CFrameParser emits them).
inline uint8_t FrameId(std::span<const uint8_t> f) {
    return f[ID_OFFSET];
}
inline uint8_t FrameInstruction(std::span<const uint8_t> f) {
    return f[INSTRUCTION_OFFSET];
}
inline std::span<const uint8_t> FrameParams(std::span<const uint8_t> f) {
    return f.subspan(PARAMS_OFFSET, f[LEN_OFFSET] - 2u);
}

}  // namespace sim
