// Factory defaults, byte order and value encodings of the simulated control table.
#include "sim/ServoTable.h"

#include <cstdlib>

namespace sim {

uint32_t BaudRateForCode(uint8_t code) {
    static constexpr std::array<uint32_t, BAUD_CODE_COUNT> kRates = {1000000, 500000, 250000, 128000,
                                                                     115200,  76800,  57600,  38400};
    return code < kRates.size() ? kRates[code] : 0;
}

ControlTable FactoryTable(uint8_t id, uint8_t baudCode) {
    ControlTable t{};
    t[reg::FIRMWARE_VERSION] = 0x03;
    t[reg::FIRMWARE_VERSION + 1] = 0x08;
    t[reg::HARDWARE_VERSION] = 0x00;
    t[reg::HARDWARE_VERSION + 1] = 0x01;
    t[reg::ID] = id;
    t[reg::BAUD_RATE] = baudCode;
    t[reg::RETURN_DELAY] = 0;
    t[reg::RETURN_LEVEL] = 2;
    PutWord(t, reg::MIN_POSITION_LIMIT, 0);
    PutWord(t, reg::MAX_POSITION_LIMIT, 1023);
    t[reg::MAX_TEMPERATURE] = 80;
    t[reg::MAX_VOLTAGE] = 250;
    t[reg::MIN_VOLTAGE] = 50;
    PutWord(t, reg::MAX_TORQUE, 1023);
    t[reg::V_COEFF] = 20;
    t[reg::P_COEFF] = 15;
    t[reg::D_COEFF] = 100;
    t[reg::I_COEFF] = 0;
    PutWord(t, reg::PUNCH, 100);
    t[reg::CW_DEAD_BAND] = 1;
    t[reg::CCW_DEAD_BAND] = 1;
    t[reg::TORQUE_ENABLE] = 0;
    // The shaft rests mid-range and holds there, so goal and present position agree at power-up.
    PutWord(t, reg::GOAL_POSITION, 512);
    PutWord(t, reg::GOAL_SPEED, 100);
    t[reg::LOCK] = 1;
    PutWord(t, reg::PRESENT_POSITION, 512);
    t[reg::PRESENT_VOLTAGE] = 74;
    t[reg::PRESENT_TEMPERATURE] = 31;
    return t;
}

uint16_t GetWord(const ControlTable& table, uint8_t address) {
    return static_cast<uint16_t>(table[address] << 8 | table[address + 1]);
}

void PutWord(ControlTable& table, uint8_t address, uint16_t value) {
    table[address] = static_cast<uint8_t>(value >> 8);
    table[address + 1] = static_cast<uint8_t>(value);
}

uint16_t EncodeSignMagnitude(int value, int signBit) {
    if (value >= 0) return static_cast<uint16_t>(value);
    return static_cast<uint16_t>(-value | 1 << signBit);
}

int DecodeSignMagnitude(uint16_t raw, int signBit) {
    const uint16_t sign = static_cast<uint16_t>(1u << signBit);
    if (raw & sign) return -static_cast<int>(raw & ~sign);
    return static_cast<int16_t>(raw);
}

}  // namespace sim
