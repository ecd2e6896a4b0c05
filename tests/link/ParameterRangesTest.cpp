// The stored parameters' ranges: every register a file can spoil is caught, alone and in company, in words.
#include <gtest/gtest.h>

#include "ControlTable.h"
#include "Encodings.h"
#include "ParameterRanges.h"

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

TEST(ParameterRanges, EachRegisterOutOfItsRangeIsNamedWithItsValue) {
    struct CCase {
        uint8_t address;
        int value;
        bool word;
        const char* text;
    };
    const CCase cases[] = {
        {Reg::ID, 254, false, "ID 254, not 0 to 253"},
        {Reg::BAUD_RATE, 8, false, "BAUD_RATE 8, not 0 to 7"},
        {Reg::RETURN_LEVEL, 153, false, "RETURN_LEVEL 153, not 0 to 2"},
        {Reg::MIN_POSITION_LIMIT, 58816, true,
         "MIN_POSITION_LIMIT 58816, not 0 to MAX_POSITION_LIMIT (1023)"},
        {Reg::MAX_POSITION_LIMIT, 1024, true, "MAX_POSITION_LIMIT 1024, not 0 to 1023"},
        {Reg::MAX_VOLTAGE, 251, false, "MAX_VOLTAGE 251, not 50 to 250"},
        {Reg::MAX_VOLTAGE, 49, false, "MAX_VOLTAGE 49, not 50 to 250"},
        {Reg::MIN_VOLTAGE, 30, false, "MIN_VOLTAGE 30, not 50 to MAX_VOLTAGE (250)"},
        {Reg::MAX_TORQUE, 52791, true, "MAX_TORQUE 52791, not 0 to 1023"},
        {Reg::PUNCH, 1024, true, "PUNCH 1024, not 0 to 1023"},
        {Reg::CURRENT_LIMIT, 2048, true, "CURRENT_LIMIT 2048, not 0 to 2047"},
    };
    for (const CCase& c : cases) {
        CImage image;
        if (c.word)
            SetImageWord(image.bytes, c.address, static_cast<uint16_t>(c.value));
        else
            image.bytes[c.address] = static_cast<uint8_t>(c.value);
        EXPECT_EQ(image.Problems(), std::vector<std::string>{c.text});
    }
    CImage image;
    image.bytes[Reg::ID] = 254;
    EXPECT_TRUE(image.Problems(false).empty()) << "the ID counts only where it is written";
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
