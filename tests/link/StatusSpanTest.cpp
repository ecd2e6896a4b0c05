// Decoding of a status reply into readings, plot samples and label texts.
#include <gtest/gtest.h>

#include <array>

#include "link/ControlTable.h"
#include "link/StatusSpan.h"

namespace {

struct CStatusCase {
    const char* name;
    std::array<uint8_t, 6> wire;  // addresses 41 to 46 as the servo sends them
    bool highByteFirst;
    int position, speed, load;
    int speedSample, loadSample;
};

TEST(StatusSpan, DecodesTheWordsInEitherByteOrderIntoReadingsAndSamples) {
    const CStatusCase cases[] = {
        {"speed -100, load 100", {0x00, 0x00, 0x04, 0x64, 0x00, 0x64}, true, 0, -100, 100, 0, 450},
        {"load -3 halves toward minus infinity",
         {0x00, 0x00, 0x00, 0x00, 0x04, 0x03},
         true,
         0,
         0,
         -3,
         500,
         502},
        {"load 3", {0x00, 0x00, 0x00, 0x00, 0x00, 0x03}, true, 0, 0, 3, 500, 499},
        {"full speed up", {0x03, 0xFF, 0x00, 0x64, 0x00, 0x00}, true, 1023, 100, 0, 1000, 500},
        {"low byte first is not swapped", {0x00, 0x02, 0x64, 0x04, 0x03, 0x04}, false, 512, -100, -3, 0, 502},
    };
    for (const CStatusCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::array<uint8_t, IMAGE_SIZE> image{};
        std::copy(c.wire.begin(), c.wire.end(), image.begin() + Reg::PRESENT_POSITION);
        image[Reg::PRESENT_VOLTAGE] = 74;
        image[Reg::PRESENT_TEMPERATURE] = 31;
        const CStatusSample s = DecodeStatusSpan(image.data(), c.highByteFirst);
        EXPECT_EQ(s.position, c.position);
        EXPECT_EQ(s.speed, c.speed);
        EXPECT_EQ(s.load, c.load);
        EXPECT_EQ(s.voltage, 74);
        EXPECT_EQ(s.temperature, 31);
        EXPECT_EQ(PositionSample(s.position), c.position);
        EXPECT_EQ(SpeedSample(s.speed), c.speedSample);
        EXPECT_EQ(LoadSample(s.load), c.loadSample);
        // Between polls the image holds host-order words (low byte first).
        EXPECT_EQ(image[Reg::PRESENT_POSITION] | image[Reg::PRESENT_POSITION + 1] << 8,
                  c.highByteFirst ? c.wire[0] << 8 | c.wire[1] : c.wire[1] << 8 | c.wire[0]);
    }
}

TEST(StatusSpan, LabelTextsKeepTheirExactFormats) {
    EXPECT_EQ(VoltageText(74), "7.4 V");
    EXPECT_EQ(VoltageText(0), "0.0 V");
    EXPECT_EQ(VoltageText(120), "12.0 V");
    EXPECT_EQ(VoltageText(255), "25.5 V");
    EXPECT_EQ(TemperatureText(31), "31 Deg");
    EXPECT_EQ(TemperatureText(0), "0 Deg");
}

}  // namespace
