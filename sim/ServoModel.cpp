// Register semantics and shaft motion of a simulated servo.
#include "ServoModel.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace sim {

CServoModel::CServoModel(uint8_t id, uint8_t baudCode, Clock::time_point now)
    : m_table(FactoryTable(id, baudCode)), m_lastAdvance(now) {}

std::vector<uint8_t> CServoModel::Read(uint8_t address, std::size_t count) const {
    std::vector<uint8_t> out(count, 0);
    for (std::size_t i = 0; i < count && address + i < kTableSize; ++i) out[i] = m_table[address + i];
    return out;
}

void CServoModel::Write(uint8_t address, std::span<const uint8_t> data) {
    // The lock is judged once per instruction, so unlocking and writing a parameter takes two writes.
    const bool locked = m_table[reg::LOCK] != 0;
    for (std::size_t i = 0; i < data.size(); ++i) {
        const std::size_t a = address + i;
        if (a >= reg::PRESENT_POSITION) break;  // measurements and beyond
        if (a < kFirstStoredParameter) continue;
        if (locked && a <= kLastStoredParameter) continue;
        m_table[a] = data[i];
    }
}

void CServoModel::RegisterWrite(uint8_t address, std::span<const uint8_t> data) {
    m_pending = SPendingWrite{address, {data.begin(), data.end()}};
}

void CServoModel::Action() {
    if (!m_pending) return;
    const SPendingWrite pending = std::move(*m_pending);
    m_pending.reset();
    Write(pending.address, pending.data);
}

void CServoModel::FactoryReset() {
    const uint16_t position = GetWord(m_table, reg::PRESENT_POSITION);
    m_table = FactoryTable(1, 0);
    PutWord(m_table, reg::PRESENT_POSITION, position);
    PutWord(m_table, reg::GOAL_POSITION, position);
    m_pending.reset();
    m_dStepCarry = 0.0;
}

void CServoModel::Advance(Clock::time_point now) {
    if (now <= m_lastAdvance) return;
    const double seconds = std::chrono::duration<double>(now - m_lastAdvance).count();
    m_lastAdvance = now;

    const int position = DecodeSignMagnitude(GetWord(m_table, reg::PRESENT_POSITION), kPositionSignBit);
    int goal = GetWord(m_table, reg::GOAL_POSITION);
    const int lower = GetWord(m_table, reg::MIN_POSITION_LIMIT);
    const int upper = GetWord(m_table, reg::MAX_POSITION_LIMIT);
    if (lower <= upper) goal = std::clamp(goal, lower, upper);
    const int speed = GetWord(m_table, reg::GOAL_SPEED) & 0x3FF;  // direction comes from the goal

    int newPosition = position;
    bool moving = false;
    if (m_table[reg::TORQUE_ENABLE] != 0 && position != goal && speed != 0) {
        m_dStepCarry += seconds * speed * kPositionPerSpeedUnit;
        const double whole = std::floor(m_dStepCarry);
        m_dStepCarry -= whole;
        const int distance = std::abs(goal - position);
        const int step = static_cast<int>(std::min<double>(whole, distance));
        newPosition = position + (goal > position ? step : -step);
        moving = newPosition != goal;
    }
    if (!moving) m_dStepCarry = 0.0;

    const int direction = goal >= position ? 1 : -1;
    const int presentSpeed = moving ? direction * speed : 0;
    PutWord(m_table, reg::PRESENT_POSITION, EncodeSignMagnitude(newPosition, kPositionSignBit));
    PutWord(m_table, reg::PRESENT_SPEED, EncodeSignMagnitude(presentSpeed, kSpeedSignBit));
    PutWord(m_table, reg::PRESENT_LOAD, EncodeSignMagnitude(presentSpeed / 4, kSpeedSignBit));
}

}  // namespace sim
