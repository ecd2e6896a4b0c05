// Hex records at 0x8000..0xAFFF and at 0x0000..0x2FFF both land at image offset 0..0x2FFF: the servo's flash
// is mapped at 0x8000, and images linked from 0 are accepted as well.
#include "upgrade/FirmwareImage.h"

#include <algorithm>
#include <cstring>

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// The byte of the two digits at line[at]; the caller has checked they are hex digits.
int HexByte(const char* line, int at) {
    return HexDigit(line[at]) * 16 + HexDigit(line[at + 1]);
}

}  // namespace

void FirmwareImage::Empty() {
    std::memset(imageData, 0xFF, sizeof imageData);
    imageLength = 0;
    blockCount = 0;
    sourceKind = 0;
}

int FirmwareImage::ParseHexLine(const char* line, int length) {
    if (length < 1 || line[0] != ':') return -1;
    for (int i = 1; i < length; ++i)
        if (HexDigit(line[i]) < 0) return -1;
    if (length < 9) return -1;  // too short for count, address and type
    const int count = HexByte(line, 1);
    if (count != (length - 11) / 2) return -1;  // rounds toward zero, as the record format's length rule does
    const int address = HexByte(line, 3) << 8 | HexByte(line, 5);
    const int type = HexByte(line, 7);
    if (type != 0) return 1;  // end-of-file and address records change nothing
    if (count == 0) return -1;

    int position = address >= 0x8000 ? address - 0x8000 : address;
    int sum = count + (address >> 8) + (address & 0xFF);
    for (int i = 0; i < count; ++i) {
        if (position >= FIRMWARE_CAPACITY) return -1;
        const int byte = HexByte(line, 9 + 2 * i);
        imageData[position++] = static_cast<uint8_t>(byte);
        sum += byte;
    }
    // Records may come in any order: the image ends at the highest byte stored, not at the last record read.
    imageLength = static_cast<uint16_t>(std::max<int>(imageLength, position));
    sum += HexByte(line, 9 + 2 * count);
    return (sum & 0xFF) == 0 ? 1 : -1;
}

void FirmwareImage::CountBlocks() {
    blockCount = static_cast<uint8_t>((imageLength + FIRMWARE_BLOCK_SIZE - 1) / FIRMWARE_BLOCK_SIZE);
}

int FirmwareImage::BuildBlockFrame(uint8_t* frame, uint8_t block, uint8_t endFlag, uint8_t kind) const {
    if (block == 0 || block > blockCount) return -1;
    frame[0] = block;
    frame[1] = static_cast<uint8_t>(255 - block);
    frame[2] = kind;
    std::memcpy(frame + 3, imageData + (block - 1) * FIRMWARE_BLOCK_SIZE, FIRMWARE_BLOCK_SIZE);
    const uint16_t crc = Crc16(frame);
    frame[67] = static_cast<uint8_t>(crc >> 8);
    frame[68] = static_cast<uint8_t>(crc & 0xFF);
    frame[69] = endFlag;
    return 1;
}

uint16_t FirmwareImage::Crc16(const uint8_t* bytes) {
    uint16_t crc = 0;
    for (int i = 0; i < 64; ++i) {
        crc = static_cast<uint16_t>(crc ^ (bytes[i] << 8));
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
    }
    return crc;
}
