// Status span decoding and the value labels' formats.
#include "link/StatusSpan.h"

#include <cstdio>

#include "link/ControlTable.h"
#include "link/Encodings.h"

CStatusSample DecodeStatusSpan(uint8_t* image, bool highByteFirst) {
    CStatusSample sample;
    const auto word = [&](uint8_t address, int signBit) {
        if (highByteFirst) SwapWord(image + address);
        return DecodeSignMagnitude(ImageWord(image, address), signBit);
    };
    sample.position = word(Reg::PRESENT_POSITION, SignBitOf(Reg::PRESENT_POSITION));
    sample.speed = word(Reg::PRESENT_SPEED, SignBitOf(Reg::PRESENT_SPEED));
    sample.load = word(Reg::PRESENT_LOAD, SignBitOf(Reg::PRESENT_LOAD));
    sample.voltage = image[Reg::PRESENT_VOLTAGE];
    sample.temperature = image[Reg::PRESENT_TEMPERATURE];
    return sample;
}

std::string VoltageText(uint8_t tenths) {
    char text[16];
    std::snprintf(text, sizeof text, "%d.%d V", tenths / 10, tenths % 10);
    return text;
}

std::string TemperatureText(uint8_t degrees) {
    char text[16];
    std::snprintf(text, sizeof text, "%d Deg", degrees);
    return text;
}
