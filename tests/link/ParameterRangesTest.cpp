// The stored parameters' ranges: every register a file can spoil is caught, alone and in company, in words.
#include <gtest/gtest.h>

#include "link/ControlTable.h"
#include "link/Encodings.h"
#include "link/ParameterRanges.h"

namespace {

// The factory parameters in image order (16-bit registers low byte first).
struct CImage {
    uint8_t bytes[IMAGE_SIZE] = {};
    CImage() {
        bytes[Reg::ID] = 1;
        bytes[Reg::RETURN_LEVEL] = 2;
        SetImageWord(bytes, Reg::MAX_POSITION_LIMIT, 1023);
        bytes[Reg::MAX_TEMPERATURE] = 80;
        bytes[Reg::MAX_VOLTAGE] = 250;
        bytes[Reg::MIN_VOLTAGE] = 50;
        SetImageWord(bytes, Reg::MAX_TORQUE, 1023);
        SetImageWord(bytes, Reg::PUNCH, 100);
        SetImageWord(bytes, Reg::CURRENT_LIMIT, 2047);
    }
    std::vector<std::string> Problems(bool checkId = true) const {
        std::vector<std::string> texts;
        for (const CRangeProblem& p : CheckParameterRanges(bytes, checkId)) texts.push_back(p.text);
        return texts;
    }
};

TEST(ParameterRanges, FactoryValuesAndTheirEdgesPass) {
    CImage image;
    EXPECT_TRUE(image.Problems().empty());
    // Wheel mode (both limits 0), the voltage limits equal, every maximum at its edge.
    SetImageWord(image.bytes, Reg::MAX_POSITION_LIMIT, 0);
    image.bytes[Reg::MIN_VOLTAGE] = image.bytes[Reg::MAX_VOLTAGE] = 50;
    image.bytes[Reg::ID] = 253;
    image.bytes[Reg::BAUD_RATE] = 7;
    image.bytes[Reg::RETURN_LEVEL] = 0;
    SetImageWord(image.bytes, Reg::PUNCH, 1023);
    EXPECT_TRUE(image.Problems().empty());
}

// Each register out of its range is refused end to end by the client's load (CliSafeSetupTest); here the
// rules the words cannot show: the ID counts only where it is written, and 16-bit values read low byte first.
TEST(ParameterRanges, TheIdCountsOnlyWhereItIsWrittenAndWordsAreReadLowByteFirst) {
    CImage image;
    image.bytes[Reg::ID] = 254;
    EXPECT_EQ(image.Problems(), std::vector<std::string>{"ID 254, not 0 to 253"});
    EXPECT_TRUE(image.Problems(false).empty());
    image.bytes[Reg::ID] = 1;
    image.bytes[Reg::MAX_TORQUE] = 0x00;  // 1024 low byte first: 00 04
    image.bytes[Reg::MAX_TORQUE + 1] = 0x04;
    EXPECT_EQ(image.Problems(), std::vector<std::string>{"MAX_TORQUE 1024, not 0 to 1023"});
}

TEST(ParameterRanges, LimitsThatCrossAreCaughtAndSeveralProblemsComeInAddressOrder) {
    CImage image;
    SetImageWord(image.bytes, Reg::MIN_POSITION_LIMIT, 600);
    SetImageWord(image.bytes, Reg::MAX_POSITION_LIMIT, 500);
    image.bytes[Reg::MIN_VOLTAGE] = 120;
    image.bytes[Reg::MAX_VOLTAGE] = 100;
    image.bytes[Reg::RETURN_LEVEL] = 3;
    EXPECT_EQ(image.Problems(),
              (std::vector<std::string>{"RETURN_LEVEL 3, not 0 to 2",
                                        "MIN_POSITION_LIMIT 600, not 0 to MAX_POSITION_LIMIT (500)",
                                        "MIN_VOLTAGE 120, not 50 to MAX_VOLTAGE (100)"}));
}

}  // namespace
