// One simulated servo: its control table, the LOCK rules for writes, registered writes and a motion model.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "sim/HandSwing.h"
#include "sim/ServoDynamics.h"
#include "sim/ServoTable.h"

namespace sim {

inline constexpr uint8_t ALARM_OVER_VOLTAGE = 0x01;
inline constexpr uint8_t ALARM_OVER_HEAT = 0x04;
inline constexpr uint8_t ALARM_OVER_LOAD = 0x20;

// Not thread-safe: CBusSimulator guards all servos with its mutex.
class CServoModel {
public:
    using Clock = std::chrono::steady_clock;

    // Position units per second for each unit of GOAL_SPEED: the default speed 100 crosses 400 units in
    // 0.4 s once up to speed.
    static constexpr int kPositionPerSpeedUnit = 10;
    // Positions per turn of the shaft in wheel mode.
    static constexpr int kPositionRange = 1024;
    // The largest magnitude PRESENT_SPEED and PRESENT_LOAD carry.
    static constexpr int kMaxMagnitude = 1023;

    // A servo powered up at `now` with factory defaults, except for its ID and baud code.
    CServoModel(uint8_t id, uint8_t baudCode, Clock::time_point now);

    uint8_t Id() const { return m_table[reg::ID]; }
    uint32_t BaudRate() const { return BaudRateForCode(m_table[reg::BAUD_RATE]); }
    uint8_t ReturnLevel() const { return m_table[reg::RETURN_LEVEL]; }
    // Delay before a status goes out, from RETURN_DELAY in units of 2 us.
    std::chrono::microseconds ReturnDelay() const {
        return std::chrono::microseconds(2 * m_table[reg::RETURN_DELAY]);
    }
    const ControlTable& Table() const { return m_table; }

    // The alarm bits this servo puts into the error byte of every status it sends: over-voltage (0x01)
    // while PRESENT_VOLTAGE is outside MIN_VOLTAGE..MAX_VOLTAGE, over-heat (0x04) while PRESENT_TEMPERATURE
    // is above MAX_TEMPERATURE, over-load (0x20) while a load is present whose magnitude reaches MAX_TORQUE:
    // a set load at once, the motor's own once it has been held at the limit for kOverloadTime (a shaft
    // starting to move draws its full torque for a moment without being overloaded).
    uint8_t Alarms() const;
    static constexpr double kOverloadTime = 0.2;  // s

    // Bytes from `address` on; addresses past the table read as 0, as unpopulated memory does.
    std::vector<uint8_t> Read(uint8_t address, std::size_t count) const;

    // A write instruction. While LOCK is set (as it is at power-up) bytes for the stored parameters
    // (ID .. address 30) are dropped; the others in the same write are kept. The versions (0..4) and
    // the measurements (PRESENT_POSITION on) are read-only; bytes past the table are dropped.
    void Write(uint8_t address, std::span<const uint8_t> data);

    // Sets one byte as a test or a fault would, ignoring LOCK and read-only registers. A measurement
    // (PRESENT_POSITION on) set this way stays as set from then on, as a stuck sensor would read, so a test
    // can put an exact status on the wire; the motion model no longer writes that byte.
    void Poke(uint8_t address, uint8_t value);

    // From now on, whenever torque is off, an operator's hand moves the shaft over `range` (CHandSwing);
    // with torque on the servo follows its goal as before.
    void SetHand(const CHandRange& range) { m_hand.emplace(range); }
    // A constant torque on the shaft in MAX_TORQUE's units, toward lower positions when positive (a weight
    // on the horn); it acts whether torque is on or off.
    void SetExternalLoad(int torque) { m_dynamics.SetExternalLoad(torque); }

    // Holds a write until Action(); a second registered write replaces the first.
    void RegisterWrite(uint8_t address, std::span<const uint8_t> data);
    // Performs the held write, if any, under the LOCK rules of that moment.
    void Action();

    // Factory defaults, so ID 1 and baud code 0. The shaft does not move: the present position stays and
    // becomes the goal. Pinned measurements stay pinned.
    void FactoryReset();

    // Moves the shaft for the time since the last call; the model depends on nothing but the times it is
    // given, so a test drives it with made-up time, and it steps in fixed steps (CServoDynamics), so how
    // often it is called does not change where the shaft goes.
    // - Joint mode: while TORQUE_ENABLE is on the controller drives the motor toward GOAL_POSITION (kept
    //   within the position limits unless they are crossed), with the gains of P_COEFF, D_COEFF and I_COEFF,
    //   PUNCH as the least drive, the CW/CCW dead bands around the goal, MAX_TORQUE as the torque limit and
    //   GOAL_SPEED x kPositionPerSpeedUnit units per second as the speed limit (V_COEFF: how hard the
    //   speed is held to it). GOAL_SPEED 0 holds the shaft still.
    // - Wheel mode (both position limits 0, as such servos are switched to turning): GOAL_SPEED is signed,
    //   sign-magnitude with sign bit 10, and while torque is on the motor turns the shaft at that speed, the
    //   position wrapping from 1023 to 0 and back.
    // - Torque off: no current flows; the shaft coasts to rest under friction (or goes where an external
    //   load pulls it), unless a hand is set (SetHand): the hand moves the shaft, taking it where it is.
    // PRESENT_SPEED reports the shaft's speed, PRESENT_LOAD the motor's torque (its current), both negative
    // toward lower positions. PRESENT_VOLTAGE is 74 (7.4 V), sagging with the current; PRESENT_TEMPERATURE
    // drifts between 30 and 32 around 31 over kTemperaturePeriod at rest and rises with the current.
    // Time never runs backwards: an earlier `now` is ignored.
    void Advance(Clock::time_point now);

    static constexpr std::chrono::seconds kTemperaturePeriod{120};
    static constexpr uint8_t kRestVoltage = 74;
    static constexpr uint8_t kBaseTemperature = 31;

private:
    struct CPendingWrite {
        uint8_t address;
        std::vector<uint8_t> data;
    };

    // What the control table asks of the motor now.
    CDriveCommand Command() const;
    // Writes a measurement byte unless a test or fault has pinned it.
    void Measure(uint8_t address, uint8_t value);
    void MeasureWord(uint8_t address, uint16_t value);

    ControlTable m_table;
    std::optional<CPendingWrite> m_pending;
    Clock::time_point m_powerUp;
    Clock::time_point m_lastAdvance;
    CServoDynamics m_dynamics;
    std::optional<CHandSwing> m_hand;
    bool m_bHandHolds = false;  // the hand has the shaft since torque went off
    std::array<bool, TABLE_SIZE> m_pinned{};
};

}  // namespace sim
