// Single-register reads and writes over the command layer.
#include "link/RegisterAccess.h"

#include "link/ControlTable.h"
#include "link/Encodings.h"
#include "link/ServoUsb.h"

bool CRegisterAccess::Read(uint8_t address, uint8_t count, uint8_t* out) {
    return m_servo.ReadData(m_id, address, count, out, &m_outcome) == count;
}

std::optional<int> CRegisterAccess::Byte(uint8_t address) {
    uint8_t value = 0;
    if (!Read(address, 1, &value)) return std::nullopt;
    return value;
}

std::optional<int> CRegisterAccess::Word(uint8_t address) {
    uint8_t bytes[2] = {};
    if (!Read(address, 2, bytes)) return std::nullopt;
    return WordAt(bytes);
}

std::optional<int> CRegisterAccess::Position() {
    const auto raw = Word(Reg::PRESENT_POSITION);
    if (!raw) return std::nullopt;
    return DecodeSignMagnitude(static_cast<uint16_t>(*raw), Reg::POSITION_SIGN_BIT);
}

bool CRegisterAccess::Write(uint8_t address, std::span<const uint8_t> bytes) {
    return m_servo.WriteData(m_id, address, static_cast<uint8_t>(bytes.size()), bytes.data(), m_returnLevel,
                             &m_outcome) == 1;
}

bool CRegisterAccess::WriteByte(uint8_t address, uint8_t value) {
    return Write(address, std::span<const uint8_t>(&value, 1));
}

bool CRegisterAccess::WriteWord(uint8_t address, uint16_t value) {
    uint8_t bytes[2] = {};
    PutWord(bytes, value);
    return Write(address, bytes);
}

uint16_t CRegisterAccess::WordAt(const uint8_t* bytes) const {
    if (m_servo.IsHighByteFirst()) return static_cast<uint16_t>(bytes[0] << 8 | bytes[1]);
    return static_cast<uint16_t>(bytes[1] << 8 | bytes[0]);
}

void CRegisterAccess::PutWord(uint8_t* bytes, uint16_t value) const {
    const uint8_t high = static_cast<uint8_t>(value >> 8), low = static_cast<uint8_t>(value);
    bytes[0] = m_servo.IsHighByteFirst() ? high : low;
    bytes[1] = m_servo.IsHighByteFirst() ? low : high;
}

std::string CRegisterAccess::Problem() const {
    return DescribeOutcome(m_outcome, m_servo.Transport() ? m_servo.Transport()->TimeoutMs() : 0);
}
