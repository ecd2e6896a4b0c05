// Frame layout of the servo wire protocol and the record of the last status frame examined.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr std::size_t kFrameBufferSize = 1024;  // every request and reply buffer
constexpr std::size_t MAX_FRAME_SIZE = 259;     // LEN 255 + 4
constexpr uint8_t BROADCAST_ID = 0xFE;

// The checksum a frame should carry: the inverted low byte of the sum of ID, LEN and the LEN bytes after it,
// read from the frame's own LEN at offset 3 (the frame holds at least LEN + 3 bytes).
uint8_t FrameChecksum(const uint8_t* frame);
// True when the byte at LEN + 3 is that checksum.
bool HasGoodChecksum(const uint8_t* frame);

class CPacket {
public:
    CPacket();
    virtual ~CPacket() = default;

    // Writes FF FF, id, len, instruction at offsets 0..4.
    static void BuildHeader(uint8_t id, uint8_t len, uint8_t instruction, uint8_t* frame);
    // Computes the checksum from the LEN at offset 3 and stores it at LEN + 3; 0 when LEN < 2.
    static int AppendChecksum(uint8_t* frame);

    // Copies offsets 0..4 into the record; 1 when header, LEN and (unless expectedId is broadcast) ID match.
    int CheckReplyHeader(const uint8_t* frame, uint8_t expectedId, uint8_t expectedLen);
    // Copies m_length parameters and the checksum byte; returns VerifyChecksum().
    int ParseReplyBody(const uint8_t* frame);
    int VerifyChecksum() const;

    uint8_t m_header[2];
    uint8_t m_id;
    uint8_t m_length;
    uint8_t m_error;
    uint8_t m_checksum;
    uint8_t m_params[kFrameBufferSize];
};
