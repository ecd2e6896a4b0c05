// Sign-magnitude coding, word swaps and numeric field texts.
#include <gtest/gtest.h>

#include <climits>
#include <map>
#include <string_view>

#include "link/ControlTable.h"
#include "link/Encodings.h"

TEST(SignMagnitude, DecodeSpeedAndLoad) {
    EXPECT_EQ(DecodeSignMagnitude(0x0400, 10), 0);
    EXPECT_EQ(DecodeSignMagnitude(0x0401, 10), -1);
    EXPECT_EQ(DecodeSignMagnitude(0x0C00, 10), -2048);   // bit 11 counts in the magnitude
    EXPECT_EQ(DecodeSignMagnitude(0x8001, 10), -32767);  // sign bit clear: raw taken as signed
    EXPECT_EQ(DecodeSignMagnitude(0x0464, 10), -100);
    EXPECT_EQ(DecodeSignMagnitude(0x03FF, 10), 1023);
}

TEST(SignMagnitude, DecodePosition) {
    EXPECT_EQ(DecodeSignMagnitude(0x8000, 15), 0);
    EXPECT_EQ(DecodeSignMagnitude(0x8005, 15), -5);
    EXPECT_EQ(DecodeSignMagnitude(0x03FF, 15), 1023);
    EXPECT_EQ(DecodeSignMagnitude(0x0200, 15), 512);
}

TEST(SignMagnitude, EncodeAndRoundTrip) {
    EXPECT_EQ(EncodeSignMagnitude(0, 10), 0);
    EXPECT_EQ(EncodeSignMagnitude(-1, 10), 0x0401);
    EXPECT_EQ(EncodeSignMagnitude(-2048, 10), 0x0C00);
    EXPECT_EQ(EncodeSignMagnitude(-1023, 10), 0x07FF);
    EXPECT_EQ(EncodeSignMagnitude(1023, 10), 0x03FF);
    for (int v = -1023; v <= 1023; ++v) EXPECT_EQ(DecodeSignMagnitude(EncodeSignMagnitude(v, 10), 10), v);
}

TEST(ByteOrder, ParameterWordsSwapButCurrentLimitStays) {
    uint8_t image[IMAGE_SIZE] = {};
    image[Reg::MAX_TORQUE] = 0x03;
    image[Reg::MAX_TORQUE + 1] = 0xFF;
    image[Reg::CURRENT_LIMIT] = 0x03;
    image[Reg::CURRENT_LIMIT + 1] = 0xFF;
    image[Reg::PUNCH] = 0x00;
    image[Reg::PUNCH + 1] = 0x64;
    image[Reg::MIN_POSITION_LIMIT + 1] = 0x01;
    image[Reg::MAX_POSITION_LIMIT] = 0x02;
    SwapParameterWords(image);
    EXPECT_EQ(ImageWord(image, Reg::MAX_TORQUE), 1023);
    EXPECT_EQ(static_cast<int16_t>(ImageWord(image, Reg::CURRENT_LIMIT)), -253);
    EXPECT_EQ(ImageWord(image, Reg::PUNCH), 100);
    EXPECT_EQ(ImageWord(image, Reg::MIN_POSITION_LIMIT), 1);
    EXPECT_EQ(ImageWord(image, Reg::MAX_POSITION_LIMIT), 512);
    uint8_t copy[IMAGE_SIZE];
    std::copy(image, image + IMAGE_SIZE, copy);
    SwapParameterWords(copy);
    SwapParameterWords(copy);
    EXPECT_TRUE(std::equal(image, image + IMAGE_SIZE, copy));
}

// What the dump and the bus monitor show comes from the map: the versions and PRESENT_CURRENT as hex bytes
// in the order they travel, CURRENT_LIMIT low byte first whatever the flag, other words in the bus's order.
TEST(ByteOrder, RegisterTextFollowsTheMap) {
    const uint8_t bytes[2] = {0x03, 0x08};
    const auto text = [&](uint8_t address, bool highByteFirst) {
        return RegisterText(*FindRegister(address), bytes, highByteFirst);
    };
    EXPECT_EQ(text(Reg::FIRMWARE_VERSION, true), "0308");
    EXPECT_EQ(text(Reg::PRESENT_CURRENT, true), "0308");
    EXPECT_EQ(text(Reg::PRESENT_CURRENT, false), "0308");
    EXPECT_EQ(text(Reg::CURRENT_LIMIT, true), "2051");
    EXPECT_EQ(text(Reg::GOAL_POSITION, true), "776");
    EXPECT_EQ(text(Reg::GOAL_POSITION, false), "2051");
    EXPECT_EQ(text(Reg::ID, true), "3");
    EXPECT_EQ(FindRegister(Reg::HARDWARE_VERSION + 1), nullptr);  // inside a word
    EXPECT_EQ(SignBitOf(Reg::PRESENT_POSITION), Reg::POSITION_SIGN_BIT);
    EXPECT_EQ(SignBitOf(Reg::PRESENT_LOAD), Reg::SPEED_SIGN_BIT);
    EXPECT_EQ(SignBitOf(Reg::MAX_TORQUE), NO_SIGN_BIT);
}

TEST(LeadingInt, Texts) {
    EXPECT_EQ(ParseLeadingInt("12ab"), 12);
    EXPECT_EQ(ParseLeadingInt("-7"), -7);
    EXPECT_EQ(ParseLeadingInt(""), 0);
    EXPECT_EQ(ParseLeadingInt("-"), 0);
    EXPECT_EQ(ParseLeadingInt(" 5"), 0);
    EXPECT_EQ(ParseLeadingInt("3-4"), 3);
    EXPECT_EQ(ParseLeadingInt("0040000"), 40000);
    EXPECT_EQ(ParseLeadingInt("99999999999999999999"), INT_MAX);
    EXPECT_EQ(ParseLeadingInt("-99999999999999999999"), INT_MIN);
}

TEST(ControlTableMap, BaudCodesAndRegisterTable) {
    EXPECT_EQ(BaudCodeOf(1000000), 0);
    EXPECT_EQ(BaudCodeOf(76800), 5);
    EXPECT_EQ(BaudCodeOf(38400), 7);
    EXPECT_EQ(BaudCodeOf(9600), -1);
    // Registers in address order and not overlapping: the dump relies on it.
    for (size_t i = 1; i < REGISTERS.size(); ++i)
        EXPECT_GE(REGISTERS[i].address, REGISTERS[i - 1].address + REGISTERS[i - 1].width)
            << REGISTERS[i].name;
    EXPECT_LE(REGISTERS.back().address + REGISTERS.back().width, static_cast<int>(IMAGE_SIZE));
}

// Every register constant is in the table under its own name and width: a dump or diagnostic built from
// the table must not leave one out.
TEST(ControlTableMap, RegisterTableNamesEveryConstant) {
    const std::map<std::string_view, std::pair<uint8_t, uint8_t>> constants{
        {"FIRMWARE_VERSION", {Reg::FIRMWARE_VERSION, 2}},
        {"HIGH_BYTE_FIRST", {Reg::HIGH_BYTE_FIRST, 1}},
        {"HARDWARE_VERSION", {Reg::HARDWARE_VERSION, 2}},
        {"ID", {Reg::ID, 1}},
        {"BAUD_RATE", {Reg::BAUD_RATE, 1}},
        {"RETURN_DELAY", {Reg::RETURN_DELAY, 1}},
        {"RETURN_LEVEL", {Reg::RETURN_LEVEL, 1}},
        {"MIN_POSITION_LIMIT", {Reg::MIN_POSITION_LIMIT, 2}},
        {"MAX_POSITION_LIMIT", {Reg::MAX_POSITION_LIMIT, 2}},
        {"MAX_TEMPERATURE", {Reg::MAX_TEMPERATURE, 1}},
        {"MAX_VOLTAGE", {Reg::MAX_VOLTAGE, 1}},
        {"MIN_VOLTAGE", {Reg::MIN_VOLTAGE, 1}},
        {"MAX_TORQUE", {Reg::MAX_TORQUE, 2}},
        {"LED_ERROR_FLAGS", {Reg::LED_ERROR_FLAGS, 1}},
        {"UNLOAD_FLAGS", {Reg::UNLOAD_FLAGS, 1}},
        {"V_COEFF", {Reg::V_COEFF, 1}},
        {"P_COEFF", {Reg::P_COEFF, 1}},
        {"D_COEFF", {Reg::D_COEFF, 1}},
        {"I_COEFF", {Reg::I_COEFF, 1}},
        {"PUNCH", {Reg::PUNCH, 2}},
        {"CW_DEAD_BAND", {Reg::CW_DEAD_BAND, 1}},
        {"CCW_DEAD_BAND", {Reg::CCW_DEAD_BAND, 1}},
        {"CURRENT_LIMIT", {Reg::CURRENT_LIMIT, 2}},
        {"TORQUE_ENABLE", {Reg::TORQUE_ENABLE, 1}},
        {"GOAL_POSITION", {Reg::GOAL_POSITION, 2}},
        {"GOAL_SPEED", {Reg::GOAL_SPEED, 2}},
        {"LOCK", {Reg::LOCK, 1}},
        {"PRESENT_POSITION", {Reg::PRESENT_POSITION, 2}},
        {"PRESENT_SPEED", {Reg::PRESENT_SPEED, 2}},
        {"PRESENT_LOAD", {Reg::PRESENT_LOAD, 2}},
        {"PRESENT_VOLTAGE", {Reg::PRESENT_VOLTAGE, 1}},
        {"PRESENT_TEMPERATURE", {Reg::PRESENT_TEMPERATURE, 1}},
        {"PRESENT_CURRENT", {Reg::PRESENT_CURRENT, 2}},
    };
    std::map<std::string_view, std::pair<uint8_t, uint8_t>> table;
    for (const CRegisterInfo& reg : REGISTERS) table[reg.name] = {reg.address, reg.width};
    EXPECT_EQ(table, constants);
    // The status span ends with the last register.
    EXPECT_EQ(REGISTERS.back().address + REGISTERS.back().width,
              Reg::STATUS_SPAN_START + Reg::STATUS_SPAN_LENGTH);
}
