// A DC motor behind a gear train, driven by a PID position controller with punch, dead band and a speed
// governor, stepped at a fixed rate.
#include "sim/ServoDynamics.h"

#include <algorithm>
#include <cmath>

namespace sim {

namespace {

// Back-EMF: the drive a shaft turning at `speed` cancels.
double BackEmf(double speed) {
    return CServoDynamics::kStallTorque * speed / CServoDynamics::kNoLoadSpeed;
}

// The drive that keeps a free shaft turning at `speed`: back-EMF and friction.
double HoldingDrive(double speed) {
    if (speed == 0.0) return 0.0;
    return BackEmf(speed) + std::copysign(CServoDynamics::kFriction, speed);
}

}  // namespace

double CServoDynamics::CurrentShare() const {
    return std::min(std::abs(m_dMotorTorque) / kStallTorque, 2.0);
}

void CServoDynamics::Run(std::chrono::nanoseconds elapsed, const CDriveCommand& command) {
    if (!command.torque) ResetController();
    m_carry += elapsed;
    const std::chrono::nanoseconds step = kStep;
    while (m_carry >= step) {
        if (AtRest(command)) {
            // Nothing moves until a new command: cool the windings for all the whole steps at once.
            const auto steps = m_carry / step;
            m_dMotorTorque = 0.0;
            m_dAtLimit = 0.0;
            Heat(static_cast<double>(steps) * kStepSeconds);
            m_carry -= steps * step;
            break;
        }
        Step(command);
        m_carry -= step;
    }
}

void CServoDynamics::Carry(double seconds, double position, double speed) {
    ResetController();
    m_dPosition = position;
    m_dSpeed = speed;
    m_dMotorTorque = 0.0;
    m_dAtLimit = 0.0;
    Heat(seconds);
}

bool CServoDynamics::AtRest(const CDriveCommand& command) const {
    return m_dSpeed == 0.0 && std::abs(m_dExternalLoad) <= kStiction &&
           (!command.torque || Drive(command).drive == 0.0);
}

CServoDynamics::CDrive CServoDynamics::Drive(const CDriveCommand& command) const {
    if (!command.torque) return {};
    CDrive out = command.wheel ? WheelDrive(command) : JointDrive(command);
    const double limit = std::max(command.maxTorque, 0);
    if (std::abs(out.drive) > limit) {
        out.drive = std::copysign(limit, out.drive);
        out.integrate = false;
    }
    return out;
}

CServoDynamics::CDrive CServoDynamics::JointDrive(const CDriveCommand& command) const {
    // Positive error: the shaft is below (clockwise of) the goal.
    const double error = command.goal - m_dPosition;
    if (error <= command.cwDeadBand && error >= -command.ccwDeadBand) return {};
    double drive = kP * command.p * error - kD * command.d * m_dSpeed + kI * command.i * m_dIntegral;
    // However small the error outside the band, a drive toward the goal is at least the punch; a drive
    // against it (D braking a shaft on its way in) is left as it is.
    if (drive * error >= 0.0 && std::abs(drive) < command.punch) drive = std::copysign(command.punch, error);

    // The governor lets the drive reach what holds the speed limit, plus V's pull toward it.
    const double limit = std::max(command.speed, 0.0);
    const double hold = HoldingDrive(limit);
    const double up = hold + kV * command.v * (limit - m_dSpeed);
    const double down = -(hold + kV * command.v * (limit + m_dSpeed));
    CDrive out{drive, true};
    if (drive > up || drive < down) {
        out.drive = std::clamp(drive, down, up);
        out.integrate = false;
    }
    return out;
}

CServoDynamics::CDrive CServoDynamics::WheelDrive(const CDriveCommand& command) const {
    return {HoldingDrive(command.speed) + kV * command.v * (command.speed - m_dSpeed), false};
}

void CServoDynamics::Step(const CDriveCommand& command) {
    const CDrive drive = Drive(command);
    if (drive.integrate && command.i > 0) {
        const double bound = kIntegralLimit / (kI * command.i);
        m_dIntegral = std::clamp(m_dIntegral + (command.goal - m_dPosition) * kStepSeconds, -bound, bound);
    }
    // With torque on the bridge drives the windings (and shorts them at zero drive, which brakes); with
    // torque off it lets them float, so no current flows and the shaft coasts.
    m_dMotorTorque = command.torque ? drive.drive - BackEmf(m_dSpeed) : 0.0;
    const bool atLimit =
        command.torque && command.maxTorque > 0 && std::abs(m_dMotorTorque) >= command.maxTorque;
    m_dAtLimit = atLimit ? m_dAtLimit + kStepSeconds : 0.0;
    Move(m_dMotorTorque - m_dExternalLoad, command.wheel);
    Heat(kStepSeconds);
}

void CServoDynamics::Move(double torque, bool wheel) {
    double friction = 0.0;
    if (m_dSpeed == 0.0) {
        if (std::abs(torque) <= kStiction) return;
        friction = std::copysign(kFriction, torque);
    } else {
        friction = std::copysign(kFriction, m_dSpeed);
    }
    const double acceleration = (torque - friction) / kInertia;
    double speed = m_dSpeed + acceleration * kStepSeconds;
    // Friction stops a shaft; it never turns it back. A torque that does starts it the other way next step.
    if (m_dSpeed != 0.0 && speed * m_dSpeed <= 0.0) speed = 0.0;
    m_dPosition += 0.5 * (m_dSpeed + speed) * kStepSeconds;
    m_dSpeed = speed;
    if (wheel) {
        m_dPosition = std::fmod(m_dPosition, kPositionRange);
        if (m_dPosition < 0.0) m_dPosition += kPositionRange;
    } else if (m_dPosition < 0.0 || m_dPosition > kPositionTop) {
        // The end stops of the sensor's travel.
        m_dPosition = std::clamp(m_dPosition, 0.0, kPositionTop);
        m_dSpeed = 0.0;
    }
}

void CServoDynamics::Heat(double seconds) {
    const double share = CurrentShare();
    const double target = kStallHeating * share * share;
    m_dHeat = target + (m_dHeat - target) * std::exp(-seconds / kThermalTime);
}

}  // namespace sim
