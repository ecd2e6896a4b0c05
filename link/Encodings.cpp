// Sign-magnitude coding, word swaps and the reading of numeric field texts.
#include "link/Encodings.h"

#include <climits>

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
    SwapWord(image + Reg::PUNCH);
    SwapWord(image + Reg::MAX_TORQUE);
    SwapWord(image + Reg::MIN_POSITION_LIMIT);
    SwapWord(image + Reg::MAX_POSITION_LIMIT);
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
