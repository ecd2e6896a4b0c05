// The status poll's arithmetic: decoding the status span, mapping readings to plot samples, label texts.
#pragma once

#include <cstdint>
#include <string>

// One reading of a servo's status span.
struct CStatusSample {
    int16_t position = 0;
    int16_t speed = 0;
    int16_t load = 0;
    uint8_t voltage = 0;      // tenths of a volt
    uint8_t temperature = 0;  // degrees
};

// Decodes the status span of a 54-byte image just read from a servo. When the words came high byte first
// they are swapped in place first, so the image holds host-order words afterwards, as between polls.
CStatusSample DecodeStatusSpan(uint8_t* image, bool highByteFirst);

// Plot samples, in plot units above the bottom edge: the position as it is, the speed five units per step
// around 500, the load half a unit per step around 500, upwards for negative loads.
inline int PositionSample(int position) {
    return position;
}
inline int SpeedSample(int speed) {
    return 5 * speed + 500;
}
inline int LoadSample(int load) {
    return 500 - (load >> 1);  // halved toward minus infinity
}

// "%d.%d V" of tenths of a volt, "%d Deg" of degrees.
std::string VoltageText(uint8_t tenths);
std::string TemperatureText(uint8_t degrees);
