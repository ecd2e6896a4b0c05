// Value encodings of the control table: sign-magnitude, byte order of 16-bit registers, numeric field text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

struct CRegisterInfo;

// Bit signBit set means negative; bits above it stay part of the magnitude.
int16_t DecodeSignMagnitude(uint16_t raw, int signBit);
uint16_t EncodeSignMagnitude(int value, int signBit);

// Exchanges the two bytes of a 16-bit field in place.
void SwapWord(uint8_t* field);
// Swaps every 16-bit register of the parameter span whose byte order follows the flag (PUNCH, MAX_TORQUE,
// MIN_POSITION_LIMIT and MAX_POSITION_LIMIT) in a 54-byte image; CURRENT_LIMIT stays.
void SwapParameterWords(uint8_t* image);

// The value of a register from its bytes (`bytes` holds the first, in address order), read in the register's
// byte order; highByteFirst is the bus's flag. Unsigned: sign-magnitude values are left to their readers.
int RegisterValue(const CRegisterInfo& reg, const uint8_t* bytes, bool highByteFirst);
// The value as the tool shows it: in decimal, or its bytes as hex digits.
std::string RegisterText(const CRegisterInfo& reg, const uint8_t* bytes, bool highByteFirst);

// The leading decimal number of a text (a minus sign only in first place); 0 when there is none.
// Saturates at the int range instead of overflowing.
int ParseLeadingInt(std::string_view text);

// 16-bit values in image order (low byte at the lower address).
inline uint16_t ImageWord(const uint8_t* image, uint8_t address) {
    return static_cast<uint16_t>(image[address] | (image[address + 1] << 8));
}
inline void SetImageWord(uint8_t* image, uint8_t address, uint16_t value) {
    image[address] = static_cast<uint8_t>(value & 0xFF);
    image[address + 1] = static_cast<uint8_t>(value >> 8);
}
