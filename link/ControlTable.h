// The servo control table as the tool uses it: register addresses, widths, spans and the baud-rate codes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

constexpr std::size_t IMAGE_SIZE = 54;  // control-table image: byte n is address n

namespace Reg {
// Addresses. 16-bit registers occupy the address given and the next one.
inline constexpr uint8_t FIRMWARE_VERSION = 0;
inline constexpr uint8_t HIGH_BYTE_FIRST = 2;  // host-side byte-order flag, never exchanged with a servo
inline constexpr uint8_t HARDWARE_VERSION = 3;
inline constexpr uint8_t ID = 5;
inline constexpr uint8_t BAUD_RATE = 6;
inline constexpr uint8_t RETURN_DELAY = 7;
inline constexpr uint8_t RETURN_LEVEL = 8;
inline constexpr uint8_t MIN_POSITION_LIMIT = 9;
inline constexpr uint8_t MAX_POSITION_LIMIT = 11;
inline constexpr uint8_t MAX_TEMPERATURE = 13;
inline constexpr uint8_t MAX_VOLTAGE = 14;
inline constexpr uint8_t MIN_VOLTAGE = 15;
inline constexpr uint8_t MAX_TORQUE = 16;
inline constexpr uint8_t LED_ERROR_FLAGS = 18;
inline constexpr uint8_t UNLOAD_FLAGS = 19;
inline constexpr uint8_t V_COEFF = 20;
inline constexpr uint8_t P_COEFF = 21;
inline constexpr uint8_t D_COEFF = 22;
inline constexpr uint8_t I_COEFF = 23;
inline constexpr uint8_t PUNCH = 24;
inline constexpr uint8_t CW_DEAD_BAND = 26;
inline constexpr uint8_t CCW_DEAD_BAND = 27;
inline constexpr uint8_t CURRENT_LIMIT = 28;  // always low byte first, whatever the byte-order flag says
inline constexpr uint8_t TORQUE_ENABLE = 31;
inline constexpr uint8_t GOAL_POSITION = 33;
inline constexpr uint8_t GOAL_SPEED = 35;
inline constexpr uint8_t LOCK = 37;
inline constexpr uint8_t PRESENT_POSITION = 41;
inline constexpr uint8_t PRESENT_SPEED = 43;
inline constexpr uint8_t PRESENT_LOAD = 45;
inline constexpr uint8_t PRESENT_VOLTAGE = 47;
inline constexpr uint8_t PRESENT_TEMPERATURE = 48;
inline constexpr uint8_t PRESENT_CURRENT = 52;

// Alarm bits of LED_ERROR_FLAGS and UNLOAD_FLAGS.
inline constexpr uint8_t ALARM_OVER_VOLTAGE = 0x01;
inline constexpr uint8_t ALARM_OVER_HEAT = 0x04;
inline constexpr uint8_t ALARM_OVER_LOAD = 0x20;

// Sign bits of the sign-magnitude registers (the map below says which register has which).
inline constexpr int POSITION_SIGN_BIT = 15;
inline constexpr int SPEED_SIGN_BIT = 10;

// The spans the tool transfers in one request each.
inline constexpr uint8_t PARAM_SPAN_START = 5;
inline constexpr uint8_t PARAM_SPAN_LENGTH = 26;
inline constexpr uint8_t STATUS_SPAN_START = 41;
inline constexpr uint8_t STATUS_SPAN_LENGTH = 13;
inline constexpr uint8_t VERSION_LENGTH = 2;
}  // namespace Reg

// How a 16-bit register's two bytes make its value.
enum class EByteOrder : uint8_t {
    Flagged,  // high byte first when the bus's HIGH_BYTE_FIRST flag says so, else low byte first
    Fixed,    // as the bytes travel, whatever the flag says: the lower address holds the low byte
};
// How the tool shows a register's value (dump, bus monitor).
enum class EDisplay : uint8_t {
    Decimal,
    HexBytes,  // every byte as two hex digits, in address order, never converted
};
inline constexpr int8_t NO_SIGN_BIT = -1;

// A register and its format. The parameter swap, the dump and the bus monitor all read values by it.
struct CRegisterInfo {
    std::string_view name;
    uint8_t address;
    uint8_t width;
    EByteOrder order = EByteOrder::Flagged;
    EDisplay display = EDisplay::Decimal;
    int8_t signBit = NO_SIGN_BIT;  // of a sign-magnitude value
};

// Every named register in address order (for dumps and diagnostics).
inline constexpr std::array<CRegisterInfo, 33> REGISTERS{{
    {"FIRMWARE_VERSION", Reg::FIRMWARE_VERSION, 2, EByteOrder::Fixed, EDisplay::HexBytes},
    {"HIGH_BYTE_FIRST", Reg::HIGH_BYTE_FIRST, 1},
    {"HARDWARE_VERSION", Reg::HARDWARE_VERSION, 2, EByteOrder::Fixed, EDisplay::HexBytes},
    {"ID", Reg::ID, 1},
    {"BAUD_RATE", Reg::BAUD_RATE, 1},
    {"RETURN_DELAY", Reg::RETURN_DELAY, 1},
    {"RETURN_LEVEL", Reg::RETURN_LEVEL, 1},
    {"MIN_POSITION_LIMIT", Reg::MIN_POSITION_LIMIT, 2},
    {"MAX_POSITION_LIMIT", Reg::MAX_POSITION_LIMIT, 2},
    {"MAX_TEMPERATURE", Reg::MAX_TEMPERATURE, 1},
    {"MAX_VOLTAGE", Reg::MAX_VOLTAGE, 1},
    {"MIN_VOLTAGE", Reg::MIN_VOLTAGE, 1},
    {"MAX_TORQUE", Reg::MAX_TORQUE, 2},
    {"LED_ERROR_FLAGS", Reg::LED_ERROR_FLAGS, 1},
    {"UNLOAD_FLAGS", Reg::UNLOAD_FLAGS, 1},
    {"V_COEFF", Reg::V_COEFF, 1},
    {"P_COEFF", Reg::P_COEFF, 1},
    {"D_COEFF", Reg::D_COEFF, 1},
    {"I_COEFF", Reg::I_COEFF, 1},
    {"PUNCH", Reg::PUNCH, 2},
    {"CW_DEAD_BAND", Reg::CW_DEAD_BAND, 1},
    {"CCW_DEAD_BAND", Reg::CCW_DEAD_BAND, 1},
    {"CURRENT_LIMIT", Reg::CURRENT_LIMIT, 2, EByteOrder::Fixed},
    {"TORQUE_ENABLE", Reg::TORQUE_ENABLE, 1},
    {"GOAL_POSITION", Reg::GOAL_POSITION, 2},
    {"GOAL_SPEED", Reg::GOAL_SPEED, 2, EByteOrder::Flagged, EDisplay::Decimal, Reg::SPEED_SIGN_BIT},
    {"LOCK", Reg::LOCK, 1},
    {"PRESENT_POSITION", Reg::PRESENT_POSITION, 2, EByteOrder::Flagged, EDisplay::Decimal,
     Reg::POSITION_SIGN_BIT},
    {"PRESENT_SPEED", Reg::PRESENT_SPEED, 2, EByteOrder::Flagged, EDisplay::Decimal, Reg::SPEED_SIGN_BIT},
    {"PRESENT_LOAD", Reg::PRESENT_LOAD, 2, EByteOrder::Flagged, EDisplay::Decimal, Reg::SPEED_SIGN_BIT},
    {"PRESENT_VOLTAGE", Reg::PRESENT_VOLTAGE, 1},
    {"PRESENT_TEMPERATURE", Reg::PRESENT_TEMPERATURE, 1},
    {"PRESENT_CURRENT", Reg::PRESENT_CURRENT, 2, EByteOrder::Fixed, EDisplay::HexBytes},
}};

// The register that starts at address, nullptr when none does.
constexpr const CRegisterInfo* FindRegister(uint8_t address) {
    for (const CRegisterInfo& reg : REGISTERS)
        if (reg.address == address) return &reg;
    return nullptr;
}
// The sign bit of the register at address, NO_SIGN_BIT when it has none.
constexpr int SignBitOf(uint8_t address) {
    const CRegisterInfo* reg = FindRegister(address);
    return reg ? reg->signBit : NO_SIGN_BIT;
}

// The values the stored parameters can take (the register map's ranges).
namespace Range {
inline constexpr int MAX_ID = 253;  // 254 is the broadcast ID
inline constexpr int MAX_RETURN_LEVEL = 2;
inline constexpr int MAX_POSITION = 1023;
inline constexpr int MIN_VOLTAGE_LIMIT = 50;
inline constexpr int MAX_VOLTAGE_LIMIT = 250;
inline constexpr int MAX_TORQUE = 1023;  // also of PUNCH
inline constexpr int MAX_CURRENT = 2047;
}  // namespace Range

// Baud-rate codes of BAUD_RATE, in the order of the main window's baud list.
inline constexpr std::array<uint32_t, 8> BAUD_RATES{1000000, 500000, 250000, 128000,
                                                    115200,  76800,  57600,  38400};

// Code of a baud rate, or -1 when it is not one of the eight.
constexpr int BaudCodeOf(uint32_t baud) {
    for (std::size_t i = 0; i < BAUD_RATES.size(); ++i)
        if (BAUD_RATES[i] == baud) return static_cast<int>(i);
    return -1;
}
