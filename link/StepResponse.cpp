// The step run: checks, coefficients for the run, settling at FROM, the step and its readings, putting back.
#include "link/StepResponse.h"

#include <chrono>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <thread>

#include "link/ControlTable.h"
#include "link/ServoUsb.h"

namespace {

using Clock = std::chrono::steady_clock;

// Readings that may fail in a row before the run gives up on the servo.
constexpr int kMissesInARow = 10;

// Addresses ID .. LOCK: limits, coefficients, torque and goal speed in one read.
constexpr uint8_t kSetupStart = Reg::ID;
constexpr uint8_t kSetupLength = Reg::LOCK - Reg::ID + 1;

double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// One run from its checks to putting the servo back; every failure is written into the outcome, and every
// step after the servo was touched ends with PutBack.
class CStepRun {
public:
    CStepRun(CServoUsb& usb, const CStepRequest& request, const std::function<bool()>& stopped,
             CStepOutcome& out)
        : m_servo(usb, request.id),
          m_request(request),
          m_stopped(stopped),
          m_out(out),
          m_who("servo " + std::to_string(request.id)),
          m_change(m_servo) {}

    // Reads the servo's setup and refuses a request that does not fit it; true when the run may go on.
    bool Check();
    // Writes the run's coefficients and turns the torque on.
    bool Prepare();
    // Sends the shaft to FROM and waits until it has rested there.
    bool SettleAtFrom();
    // The step and its readings; false when the step itself could not be sent (nothing to measure).
    bool Sample();
    // Whatever ends the run, the servo gets back its torque setting and its coefficients.
    void PutBack();

private:
    void Fail(EStepFailure failure, const std::string& why) {
        m_out.failure = m_servo.PortLost() ? EStepFailure::PortLost : failure;
        m_out.problem = why;
    }
    const uint8_t* At(uint8_t address) const { return m_setup + (address - kSetupStart); }
    bool CheckLimits();
    bool Stopped() const { return m_stopped && m_stopped(); }

    CRegisterAccess m_servo;
    const CStepRequest& m_request;
    const std::function<bool()>& m_stopped;
    CStepOutcome& m_out;
    const std::string m_who;
    uint8_t m_setup[kSetupLength] = {};
    CCoefficientChange m_change;
    bool m_bTorqueWasOn = false;
    bool m_bTorqueTurnedOn = false;
};

bool CStepRun::Check() {
    if (!m_servo.Read(kSetupStart, kSetupLength, m_setup)) {
        Fail(EStepFailure::Refused, m_who + " does not answer a read: " + m_servo.Problem());
        return false;
    }
    m_servo.SetReturnLevel(*At(Reg::RETURN_LEVEL));
    if (!CheckLimits()) return false;
    if (m_request.from == m_request.to) {
        Fail(EStepFailure::Refused, "FROM and TO are the same position");
        return false;
    }
    m_out.coefficients = CoefficientsFromBlock(At(COEFFICIENT_BLOCK_START), m_servo);
    m_bTorqueWasOn = *At(Reg::TORQUE_ENABLE) != 0;
    return true;
}

bool CStepRun::CheckLimits() {
    const int lower = m_servo.WordAt(At(Reg::MIN_POSITION_LIMIT));
    const int upper = m_servo.WordAt(At(Reg::MAX_POSITION_LIMIT));
    const std::string limits = std::to_string(lower) + ".." + std::to_string(upper);
    if (lower == 0 && upper == 0) {
        Fail(EStepFailure::Refused,
             m_who + " is in wheel mode (both position limits 0): a step needs joint mode");
        return false;
    }
    if (lower > upper) {
        Fail(EStepFailure::Refused, m_who + "'s position limits are crossed (MIN " + std::to_string(lower) +
                                        " above MAX " + std::to_string(upper) + ")");
        return false;
    }
    for (const auto& [name, value] : {std::pair{"FROM", m_request.from}, std::pair{"TO", m_request.to}}) {
        if (value < lower || value > upper) {
            Fail(EStepFailure::Refused, std::string(name) + " " + std::to_string(value) + " is outside " +
                                            m_who + "'s position limits " + limits);
            return false;
        }
    }
    return true;
}

bool CStepRun::Prepare() {
    if (!m_request.set.empty()) {
        const CStoredWriteResult written = m_change.Apply(m_request.set);
        if (!written.Ok()) {
            Fail(written.kind == EStoredWrite::NotVerified ? EStepFailure::NotVerified
                                                           : EStepFailure::NoAnswer,
                 "setting " + m_who + "'s coefficients: " + written.problem);
            return false;
        }
        m_out.coefficients = m_change.After();
    }
    m_out.band = m_out.coefficients.DeadBand() + 2;
    if (m_bTorqueWasOn) return true;
    m_bTorqueTurnedOn = true;
    if (!m_servo.WriteByte(Reg::TORQUE_ENABLE, 1)) {
        Fail(EStepFailure::NoAnswer, "turning " + m_who + "'s torque on: " + m_servo.Problem());
        return false;
    }
    return true;
}

bool CStepRun::SettleAtFrom() {
    if (!m_servo.WriteWord(Reg::GOAL_POSITION, static_cast<uint16_t>(m_request.from))) {
        Fail(EStepFailure::NoAnswer, "sending " + m_who + " to FROM: " + m_servo.Problem());
        return false;
    }
    const Clock::time_point settleStart = Clock::now();
    std::optional<Clock::time_point> restingSince;
    for (;;) {
        if (Stopped()) {
            Fail(EStepFailure::Interrupted, "interrupted before the step");
            return false;
        }
        const auto read = m_servo.Position();
        if (!read) {
            Fail(EStepFailure::NoAnswer, "reading " + m_who + "'s position: " + m_servo.Problem());
            return false;
        }
        const int position = *read;
        const Clock::time_point now = Clock::now();
        if (std::abs(position - m_request.from) > m_out.band)
            restingSince.reset();
        else if (!restingSince)
            restingSince = now;
        if (restingSince && now - *restingSince >= std::chrono::milliseconds(kStepRestMs)) {
            m_out.start = position;
            return true;
        }
        if (now - settleStart > std::chrono::milliseconds(kStepSettleTimeoutMs)) {
            Fail(EStepFailure::NotSettled, m_who + " did not come to rest at FROM " +
                                               std::to_string(m_request.from) + " within " +
                                               std::to_string(kStepSettleTimeoutMs / 1000) + " s (it is at " +
                                               std::to_string(position) + ")");
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

bool CStepRun::Sample() {
    // Timed from the moment the goal went out.
    const Clock::time_point stepAt = Clock::now();
    if (!m_servo.WriteWord(Reg::GOAL_POSITION, static_cast<uint16_t>(m_request.to))) {
        Fail(EStepFailure::NoAnswer, "sending " + m_who + " to TO: " + m_servo.Problem());
        return false;
    }
    const double runMs = m_request.seconds * 1000.0;
    int misses = 0;
    for (long k = 1;; ++k) {
        if (Stopped()) {
            Fail(EStepFailure::Interrupted,
                 "interrupted after " + std::to_string(m_out.samples.size()) + " readings");
            return true;
        }
        if (m_request.periodMs > 0)
            std::this_thread::sleep_until(stepAt + k * std::chrono::milliseconds(m_request.periodMs));
        const double asked = MsSince(stepAt);
        if (asked > runMs) return true;
        const auto read = m_servo.Position();
        if (read) {
            misses = 0;
            // The servo read its sensor somewhere in the exchange: its middle is the best guess, whatever
            // held up the host before the request or after the answer.
            m_out.samples.push_back({(asked + MsSince(stepAt)) / 2.0, *read});
        } else if (m_servo.PortLost() || ++misses >= kMissesInARow) {
            Fail(EStepFailure::NoAnswer, "reading " + m_who + "'s position: " + m_servo.Problem());
            return true;
        }
    }
}

void CStepRun::PutBack() {
    if (m_bTorqueTurnedOn) m_servo.WriteByte(Reg::TORQUE_ENABLE, 0);
    if (m_request.keep || !m_change.Touched()) return;
    if (!m_change.Restore().Ok()) {
        m_out.restoreFailed = true;
        m_out.restoreAdvice = m_change.RestoreAdvice();
    }
}

}  // namespace

CStepOutcome CStepResponse::Run(const CStepRequest& request) {
    CStepOutcome out;
    CStepRun run(m_servo, request, m_stopRequested, out);
    if (!run.Check()) return out;  // nothing was changed yet
    const bool measured = run.Prepare() && run.SettleAtFrom() && run.Sample();
    run.PutBack();
    if (measured) out.metrics = MeasureStep(out.samples, out.start, request.to, out.band);
    return out;
}
