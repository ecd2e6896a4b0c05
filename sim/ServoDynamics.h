// The motor, gear train, position controller and heating inside a simulated servo, integrated in fixed steps.
#pragma once

#include <chrono>

namespace sim {

// What the control table asks of the motor, read once per Advance.
struct CDriveCommand {
    bool torque = false;  // TORQUE_ENABLE
    bool wheel = false;   // both position limits 0: the servo turns at a commanded speed instead
    double goal = 512;    // joint mode: where to hold the shaft, already within the position limits
    // Position units per second: joint mode's speed limit (0 holds the shaft still), wheel mode's signed
    // commanded speed.
    double speed = 1000;
    int p = 15;  // P_COEFF, D_COEFF, I_COEFF, V_COEFF
    int d = 100;
    int i = 0;
    int v = 20;
    int punch = 100;  // PUNCH: the least drive outside the dead band
    int cwDeadBand = 1;
    int ccwDeadBand = 1;
    int maxTorque = 1023;  // MAX_TORQUE: the drive never exceeds it
};

// Units: positions as the servo reports them (1024 per turn of the sensor), seconds, and torque in
// MAX_TORQUE's units, where 1023 is what the motor gives at full drive while stalled. Every equation and
// constant is written out in the README ("How the simulated servo moves").
//
// Pure and not thread-safe: CServoModel owns one and drives it with the times it is given. The state moves in
// steps of kStep only; time left over carries to the next call, so the same time span gives the same result
// whether it comes in one call or in a thousand.
class CServoDynamics {
public:
    static constexpr std::chrono::microseconds kStep{500};  // the controller's cycle and the integration step
    static constexpr double kStepSeconds = 0.0005;

    // The motor and the load on the shaft.
    static constexpr double kStallTorque = 1023.0;  // at full drive and standstill
    static constexpr double kNoLoadSpeed = 3000.0;  // units/s at full drive without load or friction
    static constexpr double kInertia = 0.13;        // torque / (units/s^2): rotor through the gears, horn
    static constexpr double kFriction = 60.0;       // gear train, while turning
    static constexpr double kStiction = 78.0;       // what it takes to start turning

    // The controller: drive = kP x P x error - kD x D x speed + kI x I x integral of the error.
    static constexpr double kP = 2.0;   // drive per unit of error and unit of P_COEFF
    static constexpr double kD = 0.03;  // drive per unit/s and unit of D_COEFF
    static constexpr double kI = 1.0;   // drive per unit x s and unit of I_COEFF
    static constexpr double kV = 0.5;   // speed governor: drive per unit/s over the limit and unit of V_COEFF
    static constexpr double kIntegralLimit = kStallTorque;  // the integral's own share of the drive

    // Heat and supply.
    static constexpr double kStallHeating = 60.0;     // degrees above ambient after long at stall current
    static constexpr double kThermalTime = 40.0;      // s: time constant of heating and cooling
    static constexpr double kStallSag = 10.0;         // tenths of a volt the supply sags at stall current
    static constexpr double kPositionTop = 1023.0;    // the sensor's end stops in joint mode
    static constexpr double kPositionRange = 1024.0;  // one turn, in wheel mode

    explicit CServoDynamics(double position) : m_dPosition(position) {}

    // Moves the shaft for `elapsed` as the command says, in whole steps.
    void Run(std::chrono::nanoseconds elapsed, const CDriveCommand& command);
    // Something outside the motor holds the shaft (a hand with the torque off): it is at `position` moving at
    // `speed` after `seconds`; the motor carries no current meanwhile, so the windings cool.
    void Carry(double seconds, double position, double speed);
    // A constant torque on the shaft toward lower positions (negative: toward higher), as a weight on the
    // horn gives.
    void SetExternalLoad(double torque) { m_dExternalLoad = torque; }
    // Forgets the integral, as a servo does when its torque goes off or it restarts.
    void ResetController() { m_dIntegral = 0.0; }

    double Position() const { return m_dPosition; }
    double Speed() const { return m_dSpeed; }              // units/s, signed
    double MotorTorque() const { return m_dMotorTorque; }  // signed, proportional to the current
    double TemperatureRise() const { return m_dHeat; }     // degrees above ambient
    double CurrentShare() const;                           // |current| / stall current
    // How long the motor has been held at its torque limit without a break, in s.
    double TimeAtTorqueLimit() const { return m_dAtLimit; }

private:
    // The controller's output for the shaft as it is now.
    struct CDrive {
        double drive = 0.0;      // -MAX_TORQUE..MAX_TORQUE, in torque units at standstill
        bool integrate = false;  // outside the dead band and below every limit: the integral may grow
    };
    CDrive Drive(const CDriveCommand& command) const;
    CDrive JointDrive(const CDriveCommand& command) const;
    CDrive WheelDrive(const CDriveCommand& command) const;
    // One controller cycle and integration step.
    void Step(const CDriveCommand& command);
    // Speed and position after one step under this torque on the shaft, friction aside.
    void Move(double torque, bool wheel);
    // Heats or cools the windings for `seconds` at the present current.
    void Heat(double seconds);
    // True when only the temperature can change until the command does: a stuck shaft and no drive.
    bool AtRest(const CDriveCommand& command) const;

    double m_dPosition;
    double m_dSpeed = 0.0;
    double m_dIntegral = 0.0;  // of the error, units x s
    double m_dMotorTorque = 0.0;
    double m_dExternalLoad = 0.0;
    double m_dHeat = 0.0;
    double m_dAtLimit = 0.0;
    std::chrono::nanoseconds m_carry{0};  // time not yet stepped
};

}  // namespace sim
