// The firmware image: a fixed 12288-byte buffer filled from an Intel-HEX or binary file, cut into 64-byte
// blocks that travel to the boot loader as 70-byte frames with a CRC-16. No toolkit code here.
#pragma once

#include <cstdint>

inline constexpr int FIRMWARE_CAPACITY = 12288;
inline constexpr int FIRMWARE_BLOCK_SIZE = 64;
inline constexpr int FIRMWARE_MAX_BLOCKS = FIRMWARE_CAPACITY / FIRMWARE_BLOCK_SIZE;
inline constexpr int BLOCK_FRAME_SIZE = 70;
inline constexpr uint8_t BLOCK_MORE_FOLLOW = 6;
inline constexpr uint8_t BLOCK_LAST = 4;
inline constexpr uint8_t kSourceHex = 0;
inline constexpr uint8_t kSourceBin = 1;

struct FirmwareImage {
    FirmwareImage() { Empty(); }

    void Empty();
    // Checks one hex line (line end removed) and stores its data: 1 accepted, -1 format error.
    int ParseHexLine(const char* line, int length);
    void CountBlocks();
    // Fills a 70-byte frame for block 1..blockCount; -1 without writing anything for any other number.
    int BuildBlockFrame(uint8_t* frame, uint8_t block, uint8_t endFlag, uint8_t kind) const;
    // CRC-16/XMODEM over 64 bytes: the frame's number, complement, kind and first 61 data bytes.
    static uint16_t Crc16(const uint8_t* bytes);

    // Offset just past the highest byte any data record stored, or the length of a bin file.
    uint16_t imageLength;
    uint8_t imageData[FIRMWARE_CAPACITY];
    uint8_t blockCount;
    uint8_t sourceKind;
};
