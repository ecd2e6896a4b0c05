// One servo's registers as values: 16-bit words in the order the link's byte-order flag says, each read or
// write one exchange, and how the last one ended.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "link/ExchangeOutcome.h"

class CServoUsb;

// Thread rules: one instance per thread; the exchanges themselves hold the bus each (CServoUsb).
class CRegisterAccess {
public:
    // returnLevel: the servo's RETURN_LEVEL, so writes to a servo that does not confirm them are not awaited.
    CRegisterAccess(CServoUsb& servo, uint8_t id, uint8_t returnLevel = 2)
        : m_servo(servo), m_id(id), m_returnLevel(returnLevel) {}

    uint8_t Id() const { return m_id; }
    void SetReturnLevel(uint8_t level) { m_returnLevel = level; }

    bool Read(uint8_t address, uint8_t count, uint8_t* out);
    std::optional<int> Byte(uint8_t address);
    std::optional<int> Word(uint8_t address);
    // PRESENT_POSITION, decoded (sign bit 15).
    std::optional<int> Position();
    bool Write(uint8_t address, std::span<const uint8_t> bytes);
    bool WriteByte(uint8_t address, uint8_t value);
    bool WriteWord(uint8_t address, uint16_t value);

    // A word from, or into, two bytes as they travel.
    uint16_t WordAt(const uint8_t* bytes) const;
    void PutWord(uint8_t* bytes, uint16_t value) const;

    // How the last exchange ended, and why it failed in the operator's words.
    const CExchangeOutcome& Outcome() const { return m_outcome; }
    bool PortLost() const { return m_outcome.kind == EOutcome::PortLost; }
    std::string Problem() const;

private:
    CServoUsb& m_servo;
    uint8_t m_id;
    uint8_t m_returnLevel;
    CExchangeOutcome m_outcome;
};
