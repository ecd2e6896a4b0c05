// Register map, factory defaults and baud-rate codes of a simulated servo's control table.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace sim {

// 54 bytes cover every register the host uses; a real servo's table ends at PRESENT_CURRENT too.
inline constexpr std::size_t TABLE_SIZE = 54;
using ControlTable = std::array<uint8_t, TABLE_SIZE>;

// Register addresses. 16-bit registers hold their high byte at the lower address, except CURRENT_LIMIT.
namespace reg {
inline constexpr uint8_t FIRMWARE_VERSION = 0;
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
inline constexpr uint8_t CURRENT_LIMIT = 28;  // low byte first
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
}  // namespace reg

// The stored parameters that LOCK protects.
inline constexpr uint8_t FIRST_STORED_PARAMETER = reg::ID;
inline constexpr uint8_t LAST_STORED_PARAMETER = 30;

// Sign bits of the sign-magnitude registers.
inline constexpr int POSITION_SIGN_BIT = 15;
inline constexpr int SPEED_SIGN_BIT = 10;

inline constexpr uint8_t BAUD_CODE_COUNT = 8;

// Line rate in bit/s of a BAUD_RATE code; 0 for a code outside 0..7 (such a servo hears nothing).
uint32_t BaudRateForCode(uint8_t code);

// The table of a servo fresh from the factory, given the ID and baud code it should have.
ControlTable FactoryTable(uint8_t id, uint8_t baudCode);

// 16-bit register access in the servo's own order: high byte at the lower address.
uint16_t GetWord(const ControlTable& table, uint8_t address);
void PutWord(ControlTable& table, uint8_t address, uint16_t value);

// Sign-magnitude form of a signed value: the magnitude with bit signBit set when negative.
uint16_t EncodeSignMagnitude(int value, int signBit);
// Inverse of EncodeSignMagnitude; bits above signBit count in the magnitude.
int DecodeSignMagnitude(uint16_t raw, int signBit);

}  // namespace sim
