// Step-response arithmetic, the coefficients' names and block, and the limits a sweep proposes: pure logic.
#include <gtest/gtest.h>

#include <vector>

#include "link/CalibrationSweep.h"
#include "link/Coefficients.h"
#include "link/ControlTable.h"
#include "link/ServoUsb.h"
#include "link/StepMetrics.h"

namespace {

// A step from 100 to 500 read every 10 ms: 10 % (140) first passed at 30 ms, 90 % (460) at 70 ms, a peak of
// 520 (5 %), last outside 500 +- 3 at 110 ms, resting at 499.
const std::vector<CStepSample> kUp = {{0, 100},   {10, 100},  {20, 130},  {30, 180}, {40, 260},  {50, 350},
                                      {60, 430},  {70, 470},  {80, 510},  {90, 520}, {100, 506}, {110, 496},
                                      {120, 499}, {130, 501}, {140, 499}, {150, 499}};

TEST(StepMetrics, MeasuresRiseOvershootSettlingErrorAndRateInEitherDirection) {
    const CStepMetrics up = MeasureStep(kUp, 100, 500, 3);
    ASSERT_TRUE(up.riseMs);
    EXPECT_DOUBLE_EQ(*up.riseMs, 40.0);
    EXPECT_DOUBLE_EQ(up.overshootPercent, 5.0);
    ASSERT_TRUE(up.settlingMs);
    EXPECT_DOUBLE_EQ(*up.settlingMs, 120.0);
    EXPECT_EQ(up.steadyStateError, 1) << "short of the goal";
    EXPECT_DOUBLE_EQ(up.sampleRateHz, 100.0);

    // The same run mirrored: a step down from 900 to 500.
    std::vector<CStepSample> down;
    for (const CStepSample& s : kUp) down.push_back({s.ms, 1000 - s.position});
    const CStepMetrics mirrored = MeasureStep(down, 900, 500, 3);
    EXPECT_EQ(mirrored.riseMs, up.riseMs);
    EXPECT_DOUBLE_EQ(mirrored.overshootPercent, 5.0);
    EXPECT_EQ(mirrored.settlingMs, up.settlingMs);
    EXPECT_EQ(mirrored.steadyStateError, 1) << "short of the goal from above too";

    // Stopping beyond the goal is a negative error.
    std::vector<CStepSample> beyond = kUp;
    beyond.back().position = 502;
    EXPECT_EQ(MeasureStep(beyond, 100, 500, 3).steadyStateError, -2);
}

TEST(StepMetrics, SaysWhatNeverHappenedWithinTheRun) {
    // Stuck at a quarter of the way: no 90 %, never settled.
    const std::vector<CStepSample> stuck = {{0, 100}, {50, 150}, {100, 200}, {150, 200}};
    const CStepMetrics metrics = MeasureStep(stuck, 100, 500, 3);
    EXPECT_FALSE(metrics.riseMs);
    EXPECT_FALSE(metrics.settlingMs);
    EXPECT_EQ(metrics.steadyStateError, 300);
    EXPECT_EQ(StepMetricsText(metrics, 2000),
              "rise time: not within 2000 ms\novershoot: 0.0 %\nsettling time: not within 2000 ms\n"
              "steady-state error: 300\nsample rate: 20 Hz\n");
    // Still ringing at the end: outside the band at the last reading.
    std::vector<CStepSample> ringing = kUp;
    ringing.push_back({160, 505});
    EXPECT_FALSE(MeasureStep(ringing, 100, 500, 3).settlingMs);
    EXPECT_FALSE(MeasureStep({}, 100, 500, 3).settlingMs);
}

TEST(StepMetrics, PrintsTheLinesAndTheReadings) {
    EXPECT_EQ(StepMetricsText(MeasureStep(kUp, 100, 500, 3), 2000),
              "rise time: 40 ms\novershoot: 5.0 %\nsettling time: 120 ms\nsteady-state error: 1\n"
              "sample rate: 100 Hz\n");
    EXPECT_EQ(StepSamplesCsv({{0.25, 100}, {1.5, -3}}), "time_ms,position\n0.2,100\n1.5,-3\n");
}

TEST(Coefficients, ParsesSettingsByNameWithinTheirRanges) {
    std::string error;
    const auto settings = ParseCoefficientSettings("P=30,d=80,PUNCH=1023,cw_dead_band=0,P=31", &error);
    ASSERT_TRUE(settings) << error;
    ASSERT_EQ(settings->size(), 4u);
    EXPECT_EQ((*settings)[0].first->name, "D");
    EXPECT_EQ((*settings)[1].second, 1023);
    EXPECT_EQ((*settings)[3].first->name, "P") << "a repeated name counts once, the last value";
    EXPECT_EQ((*settings)[3].second, 31);

    const std::pair<const char*, const char*> bad[] = {
        {"Q=4", "'Q' is not a coefficient (V, P, D, I, PUNCH, CW_DEAD_BAND, CCW_DEAD_BAND)"},
        {"P=256", "P=256 is outside 0..255"},
        {"PUNCH=1024", "PUNCH=1024 is outside 0..1023"},
        {"D=-1", "D=-1 is outside 0..255"},
        {"D=0x10", "D=0x10 is outside 0..255"},
        {"P", "P needs a value (NAME=VALUE)"},
        {"P=", "P= is outside 0..255"},
        {"", "'' is not a coefficient"},
        {"P=3,", "'' is not a coefficient"},
        {"MAX_TORQUE=5", "'MAX_TORQUE' is not a coefficient"},
    };
    for (const auto& [text, why] : bad) {
        EXPECT_FALSE(ParseCoefficientSettings(text, &error)) << text;
        EXPECT_EQ(error.rfind(why, 0), 0u) << text << ": " << error;
    }
}

TEST(Coefficients, TravelAsOneBlockWithPunchInTheLinksByteOrder) {
    CServoUsb usb(nullptr);
    CRegisterAccess access(usb, 1);
    CCoefficients values;
    values.Set(*FindCoefficient("PUNCH"), 0x0123);
    values.Set(*FindCoefficient("P"), 60);
    values.Set(*FindCoefficient("CCW_DEAD_BAND"), 20);
    EXPECT_EQ(values.DeadBand(), 20);
    EXPECT_EQ(values.Text({FindCoefficient("P"), FindCoefficient("PUNCH")}), "P=60,PUNCH=291");

    usb.Image()[Reg::HIGH_BYTE_FIRST] = 1;
    const auto highFirst = BlockFromCoefficients(values, access);
    EXPECT_EQ(highFirst, (std::array<uint8_t, 8>{20, 60, 100, 0, 0x01, 0x23, 1, 20}));
    EXPECT_EQ(CoefficientsFromBlock(highFirst.data(), access), values);
    usb.Image()[Reg::HIGH_BYTE_FIRST] = 0;
    const auto lowFirst = BlockFromCoefficients(values, access);
    EXPECT_EQ(lowFirst[4], 0x23);
    EXPECT_EQ(lowFirst[5], 0x01);
    EXPECT_EQ(CoefficientsFromBlock(lowFirst.data(), access), values);
}

TEST(CalibrationSweep, ProposesTheRangeSeenWidenedWithinTheSensorsTravel) {
    EXPECT_EQ(ProposeLimits(200, 800, 5), (CPositionLimits{195, 805}));
    EXPECT_EQ(ProposeLimits(3, 1020, 5), (CPositionLimits{0, 1023}));
    EXPECT_EQ(ProposeLimits(200, 800, 0), (CPositionLimits{200, 800}));
}

}  // namespace
