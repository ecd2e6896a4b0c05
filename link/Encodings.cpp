// Sign-magnitude coding, word swaps and the reading of numeric field texts.
#include "link/Encodings.h"

#include <climits>
#include <cstdio>

#include "link/ControlTable.h"

int16_t DecodeSignMagnitude(uint16_t raw, int signBit) {
    const uint16_t bit = static_cast<uint16_t>(1u << signBit);
    if (raw & bit) return static_cast<int16_t>(static_cast<uint16_t>(-(raw & ~bit)));
    return static_cast<int16_t>(raw);
}

uint16_t EncodeSignMagnitude(int value, int signBit) {
    const int16_t v = static_cast<int16_t>(value);
    if (v >= 0) return static_cast<uint16_t>(v);
    return static_cast<uint16_t>(static_cast<uint16_t>(-static_cast<int>(v)) | (1u << signBit));
}

void SwapWord(uint8_t* field) {
    const uint8_t low = field[0];
    field[0] = field[1];
    field[1] = low;
}

void SwapParameterWords(uint8_t* image) {
    for (const CRegisterInfo& reg : REGISTERS) {
        const bool inSpan = reg.address >= Reg::PARAM_SPAN_START &&
                            reg.address + reg.width <= Reg::PARAM_SPAN_START + Reg::PARAM_SPAN_LENGTH;
        if (inSpan && reg.width == 2 && reg.order == EByteOrder::Flagged) SwapWord(image + reg.address);
    }
}

int RegisterValue(const CRegisterInfo& reg, const uint8_t* bytes, bool highByteFirst) {
    if (reg.width != 2) return bytes[0];
    const bool highFirst = highByteFirst && reg.order == EByteOrder::Flagged;
    return highFirst ? (bytes[0] << 8 | bytes[1]) : (bytes[0] | bytes[1] << 8);
}

std::string RegisterText(const CRegisterInfo& reg, const uint8_t* bytes, bool highByteFirst) {
    if (reg.display == EDisplay::Decimal) return std::to_string(RegisterValue(reg, bytes, highByteFirst));
    std::string text;
    char digits[3];
    for (int i = 0; i < reg.width; ++i) {
        std::snprintf(digits, sizeof digits, "%02x", bytes[i]);
        text += digits;
    }
    return text;
}

int ParseLeadingInt(std::string_view text) {
    std::size_t i = 0;
    const bool negative = !text.empty() && text[0] == '-';
    if (negative) i = 1;
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > static_cast<long long>(INT_MAX) + 1) value = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative) value = -value;
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}
