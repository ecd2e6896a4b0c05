// Register semantics and shaft motion of a simulated servo.
#include "ServoModel.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numbers>

namespace sim {

CServoModel::CServoModel(uint8_t id, uint8_t baudCode, Clock::time_point now)
    : m_table(FactoryTable(id, baudCode)), m_powerUp(now), m_lastAdvance(now) {}

std::vector<uint8_t> CServoModel::Read(uint8_t address, std::size_t count) const {
    std::vector<uint8_t> out(count, 0);
    for (std::size_t i = 0; i < count && address + i < TABLE_SIZE; ++i) out[i] = m_table[address + i];
    return out;
}

uint8_t CServoModel::Alarms() const {
    uint8_t alarms = 0;
    const uint8_t voltage = m_table[reg::PRESENT_VOLTAGE];
    if (voltage < m_table[reg::MIN_VOLTAGE] || voltage > m_table[reg::MAX_VOLTAGE])
        alarms |= ALARM_OVER_VOLTAGE;
    if (m_table[reg::PRESENT_TEMPERATURE] > m_table[reg::MAX_TEMPERATURE]) alarms |= ALARM_OVER_HEAT;
    // A servo at rest carries no load, so a torque limit of 0 does not raise the alarm by itself.
    const int load = std::abs(DecodeSignMagnitude(GetWord(m_table, reg::PRESENT_LOAD), SPEED_SIGN_BIT));
    if (load > 0 && load >= GetWord(m_table, reg::MAX_TORQUE)) alarms |= ALARM_OVER_LOAD;
    return alarms;
}

void CServoModel::Write(uint8_t address, std::span<const uint8_t> data) {
    // The lock is judged once per instruction, so unlocking and writing a parameter takes two writes.
    const bool locked = m_table[reg::LOCK] != 0;
    for (std::size_t i = 0; i < data.size(); ++i) {
        const std::size_t a = address + i;
        if (a >= reg::PRESENT_POSITION) break;  // measurements and beyond
        if (a < FIRST_STORED_PARAMETER) continue;
        if (locked && a <= LAST_STORED_PARAMETER) continue;
        m_table[a] = data[i];
    }
}

void CServoModel::Poke(uint8_t address, uint8_t value) {
    m_table[address] = value;
    if (address >= reg::PRESENT_POSITION) m_pinned[address] = true;
}

void CServoModel::Measure(uint8_t address, uint8_t value) {
    if (!m_pinned[address]) m_table[address] = value;
}

void CServoModel::MeasureWord(uint8_t address, uint16_t value) {
    Measure(address, static_cast<uint8_t>(value >> 8));
    Measure(address + 1, static_cast<uint8_t>(value));
}

void CServoModel::RegisterWrite(uint8_t address, std::span<const uint8_t> data) {
    m_pending = CPendingWrite{address, {data.begin(), data.end()}};
}

void CServoModel::Action() {
    if (!m_pending) return;
    const CPendingWrite pending = std::move(*m_pending);
    m_pending.reset();
    Write(pending.address, pending.data);
}

void CServoModel::FactoryReset() {
    const uint16_t position = GetWord(m_table, reg::PRESENT_POSITION);
    const ControlTable before = m_table;
    m_table = FactoryTable(1, 0);
    for (std::size_t a = 0; a < TABLE_SIZE; ++a)
        if (m_pinned[a]) m_table[a] = before[a];
    PutWord(m_table, reg::PRESENT_POSITION, position);
    PutWord(m_table, reg::GOAL_POSITION, position);
    m_pending.reset();
    m_dStepCarry = 0.0;
}

void CServoModel::Advance(Clock::time_point now) {
    if (now <= m_lastAdvance) return;
    const double seconds = std::chrono::duration<double>(now - m_lastAdvance).count();
    m_lastAdvance = now;

    const int position = DecodeSignMagnitude(GetWord(m_table, reg::PRESENT_POSITION), POSITION_SIGN_BIT);
    const int lower = GetWord(m_table, reg::MIN_POSITION_LIMIT);
    const int upper = GetWord(m_table, reg::MAX_POSITION_LIMIT);
    const bool wheel = lower == 0 && upper == 0;
    const bool torque = m_table[reg::TORQUE_ENABLE] != 0;
    const uint16_t goalSpeed = GetWord(m_table, reg::GOAL_SPEED);

    int newPosition = position;
    int presentSpeed = 0;
    bool driven = torque;
    if (torque || !m_hand) m_bHandHolds = false;
    if (!torque && m_hand) {
        if (!m_bHandHolds) m_hand->Grip(position);
        m_bHandHolds = true;
        newPosition = static_cast<int>(std::lround(m_hand->Advance(seconds)));
        presentSpeed = static_cast<int>(std::lround(m_hand->Speed() / kPositionPerSpeedUnit));
        driven = false;
    } else if (wheel) {
        const int speed = DecodeSignMagnitude(goalSpeed & 0x7FF, SPEED_SIGN_BIT);
        if (torque && speed != 0) {
            m_dStepCarry += seconds * std::abs(speed) * kPositionPerSpeedUnit;
            const double whole = std::floor(m_dStepCarry);
            m_dStepCarry -= whole;
            const int step = static_cast<int>(std::fmod(whole, kPositionRange));
            newPosition =
                ((position + (speed > 0 ? step : -step)) % kPositionRange + kPositionRange) % kPositionRange;
            presentSpeed = speed;
        }
    } else {
        int goal = GetWord(m_table, reg::GOAL_POSITION);
        if (lower <= upper) goal = std::clamp(goal, lower, upper);
        const int speed = goalSpeed & 0x3FF;  // direction comes from the goal
        if (torque && position != goal && speed != 0) {
            m_dStepCarry += seconds * speed * kPositionPerSpeedUnit;
            const double whole = std::floor(m_dStepCarry);
            m_dStepCarry -= whole;
            const int distance = std::abs(goal - position);
            const int step = static_cast<int>(std::min<double>(whole, distance));
            newPosition = position + (goal > position ? step : -step);
            if (newPosition != goal) presentSpeed = goal > position ? speed : -speed;
        }
    }
    if (presentSpeed == 0 || !driven) m_dStepCarry = 0.0;
    const int drivenSpeed = driven ? presentSpeed : 0;

    MeasureWord(reg::PRESENT_POSITION, EncodeSignMagnitude(newPosition, POSITION_SIGN_BIT));
    MeasureWord(reg::PRESENT_SPEED, EncodeSignMagnitude(presentSpeed, SPEED_SIGN_BIT));
    MeasureWord(reg::PRESENT_LOAD, EncodeSignMagnitude(drivenSpeed / 4, SPEED_SIGN_BIT));
    Measure(reg::PRESENT_VOLTAGE, drivenSpeed != 0 ? kRestVoltage - 1 : kRestVoltage);
    // A slow sine rounded to whole degrees: 31 for the first twelfth of a period, then 32, 31, 30 and 31.
    const double phase =
        std::chrono::duration<double>(now - m_powerUp) / std::chrono::duration<double>(kTemperaturePeriod);
    const int drift = static_cast<int>(std::lround(std::sin(2.0 * std::numbers::pi * phase)));
    Measure(reg::PRESENT_TEMPERATURE, static_cast<uint8_t>(kBaseTemperature + drift));
}

}  // namespace sim
