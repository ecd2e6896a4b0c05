// Register semantics and shaft motion of a simulated servo.
#include "sim/ServoModel.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numbers>

namespace sim {

CServoModel::CServoModel(uint8_t id, uint8_t baudCode, Clock::time_point now)
    : m_table(FactoryTable(id, baudCode)),
      m_powerUp(now),
      m_lastAdvance(now),
      m_dynamics(GetWord(m_table, reg::PRESENT_POSITION)) {}

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
    const bool loadSet = m_pinned[reg::PRESENT_LOAD] || m_pinned[reg::PRESENT_LOAD + 1];
    const bool held = loadSet || m_dynamics.TimeAtTorqueLimit() >= kOverloadTime;
    if (load > 0 && load >= GetWord(m_table, reg::MAX_TORQUE) && held) alarms |= ALARM_OVER_LOAD;
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
    m_dynamics.ResetController();
}

CDriveCommand CServoModel::Command() const {
    CDriveCommand command;
    const int lower = GetWord(m_table, reg::MIN_POSITION_LIMIT);
    const int upper = GetWord(m_table, reg::MAX_POSITION_LIMIT);
    command.torque = m_table[reg::TORQUE_ENABLE] != 0;
    command.wheel = lower == 0 && upper == 0;
    const uint16_t goalSpeed = GetWord(m_table, reg::GOAL_SPEED);
    if (command.wheel) {
        command.speed =
            DecodeSignMagnitude(goalSpeed & 0x7FF, SPEED_SIGN_BIT) * double{kPositionPerSpeedUnit};
    } else {
        int goal = GetWord(m_table, reg::GOAL_POSITION);
        if (lower <= upper) goal = std::clamp(goal, lower, upper);
        command.goal = goal;
        command.speed = (goalSpeed & 0x3FF) * double{kPositionPerSpeedUnit};  // direction comes from the goal
    }
    command.p = m_table[reg::P_COEFF];
    command.d = m_table[reg::D_COEFF];
    command.i = m_table[reg::I_COEFF];
    command.v = m_table[reg::V_COEFF];
    command.punch = GetWord(m_table, reg::PUNCH);
    command.cwDeadBand = m_table[reg::CW_DEAD_BAND];
    command.ccwDeadBand = m_table[reg::CCW_DEAD_BAND];
    command.maxTorque = GetWord(m_table, reg::MAX_TORQUE);
    return command;
}

void CServoModel::Advance(Clock::time_point now) {
    if (now <= m_lastAdvance) return;
    const auto elapsed = now - m_lastAdvance;
    m_lastAdvance = now;

    const CDriveCommand command = Command();
    if (command.torque || !m_hand) m_bHandHolds = false;
    if (!command.torque && m_hand) {
        if (!m_bHandHolds) m_hand->Grip(m_dynamics.Position());
        m_bHandHolds = true;
        const double seconds = std::chrono::duration<double>(elapsed).count();
        const double position = m_hand->Advance(seconds);
        m_dynamics.Carry(seconds, position, m_hand->Speed());
    } else {
        m_dynamics.Run(elapsed, command);
    }

    const int position = static_cast<int>(std::lround(m_dynamics.Position())) % kPositionRange;
    const int speed = std::clamp(static_cast<int>(std::lround(m_dynamics.Speed() / kPositionPerSpeedUnit)),
                                 -kMaxMagnitude, kMaxMagnitude);
    const int load =
        std::clamp(static_cast<int>(std::lround(m_dynamics.MotorTorque())), -kMaxMagnitude, kMaxMagnitude);
    MeasureWord(reg::PRESENT_POSITION, EncodeSignMagnitude(position, POSITION_SIGN_BIT));
    MeasureWord(reg::PRESENT_SPEED, EncodeSignMagnitude(speed, SPEED_SIGN_BIT));
    MeasureWord(reg::PRESENT_LOAD, EncodeSignMagnitude(load, SPEED_SIGN_BIT));
    const auto sag = std::lround(CServoDynamics::kStallSag * m_dynamics.CurrentShare());
    Measure(reg::PRESENT_VOLTAGE, static_cast<uint8_t>(std::max<long>(kRestVoltage - sag, 0)));
    // A slow sine rounded to whole degrees at rest (31 for the first twelfth of a period, then 32, 31, 30
    // and 31), plus what the current has heated the windings by.
    const double phase =
        std::chrono::duration<double>(now - m_powerUp) / std::chrono::duration<double>(kTemperaturePeriod);
    const double drift = std::sin(2.0 * std::numbers::pi * phase) + m_dynamics.TemperatureRise();
    const long temperature = kBaseTemperature + std::lround(drift);
    Measure(reg::PRESENT_TEMPERATURE, static_cast<uint8_t>(std::clamp<long>(temperature, 0, 255)));
}

}  // namespace sim
