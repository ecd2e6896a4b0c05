// The alarm bits in words: which side of its limits the voltage is on, and the values a warning gives.
#include <gtest/gtest.h>

#include "link/AlarmWords.h"

namespace {

CAlarmValues Values(uint8_t voltage, uint8_t temperature) {
    CAlarmValues values;
    const uint8_t span[13] = {0, 2, 0, 0, 0, 0, voltage, temperature};
    const uint8_t limits[3] = {80, 250, 50};  // MAX_TEMPERATURE, MAX_VOLTAGE, MIN_VOLTAGE
    TakeStatusSpan(span, values);
    TakeAlarmLimits(limits, values);
    return values;
}

TEST(AlarmWords, TheVoltageBitIsNamedForTheSideOfTheLimitsTheVoltageIsOn) {
    EXPECT_EQ(AlarmNames(0x01, Values(30, 31)), "under-voltage");
    EXPECT_EQ(AlarmNames(0x01, Values(255, 31)), "over-voltage");
    EXPECT_EQ(AlarmNames(0x01, Values(74, 31)), "voltage") << "inside the limits: the reading cannot tell";
    EXPECT_EQ(AlarmNames(0x01), "voltage") << "nothing read";
    CAlarmValues voltageOnly;
    voltageOnly.voltage = 30;
    EXPECT_EQ(AlarmNames(0x01, voltageOnly), "voltage") << "limits not read";
}

TEST(AlarmWords, ColumnNamesAreJoinedWithoutSpaces) {
    EXPECT_EQ(AlarmNames(0), "");
    EXPECT_EQ(AlarmNames(0x04 | 0x20 | 0x40, {}), "over-heat+over-load+instruction");
    EXPECT_EQ(AlarmNames(0x01 | 0x04, Values(30, 90)), "under-voltage+over-heat");
    EXPECT_EQ(AlarmNames(0x8A, {}), "bit1+bit3+bit7");
    EXPECT_EQ(AlarmNames(0x21, Values(30, 31), ", "), "under-voltage, over-load");
}

TEST(AlarmWords, WarningsGiveTheReadingsAndTheLimits) {
    EXPECT_EQ(AlarmWarning(0x01, Values(30, 31)), "under-voltage (voltage 3.0 V outside 5.0\u201325.0 V)");
    EXPECT_EQ(
        AlarmWarning(0x05, Values(255, 90)),
        "over-voltage (voltage 25.5 V outside 5.0\u201325.0 V), over-heat (temperature 90 \u00b0C above 80 "
        "\u00b0C)");
    EXPECT_EQ(AlarmWarning(0x24, {}), "over-heat, over-load") << "nothing read, nothing made up";
    CAlarmValues readingsOnly;
    readingsOnly.voltage = 49;
    EXPECT_EQ(AlarmWarning(0x01, readingsOnly), "voltage (voltage 4.9 V)");
    EXPECT_EQ(AlarmWarning(0), "");
}

}  // namespace
