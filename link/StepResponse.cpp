// The step run: checks, coefficients for the run, settling at FROM, the step and its readings, putting back.
#include "link/StepResponse.h"

#include <chrono>
#include <cstdlib>
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

}  // namespace

CStepOutcome CStepResponse::Run(const CStepRequest& request) {
    CStepOutcome out;
    CRegisterAccess servo(m_servo, request.id);
    const std::string who = "servo " + std::to_string(request.id);
    auto fail = [&](EStepFailure failure, const std::string& why) {
        out.failure = servo.PortLost() ? EStepFailure::PortLost : failure;
        out.problem = why;
    };

    uint8_t setup[kSetupLength] = {};
    if (!servo.Read(kSetupStart, kSetupLength, setup)) {
        fail(EStepFailure::Refused, who + " does not answer a read: " + servo.Problem());
        return out;
    }
    const auto at = [&](uint8_t address) { return setup + (address - kSetupStart); };
    servo.SetReturnLevel(*at(Reg::RETURN_LEVEL));
    const int lower = servo.WordAt(at(Reg::MIN_POSITION_LIMIT));
    const int upper = servo.WordAt(at(Reg::MAX_POSITION_LIMIT));
    const std::string limits = std::to_string(lower) + ".." + std::to_string(upper);
    if (lower == 0 && upper == 0) {
        fail(EStepFailure::Refused,
             who + " is in wheel mode (both position limits 0): a step needs joint mode");
        return out;
    }
    if (lower > upper) {
        fail(EStepFailure::Refused, who + "'s position limits are crossed (MIN " + std::to_string(lower) +
                                        " above MAX " + std::to_string(upper) + ")");
        return out;
    }
    for (const auto& [name, value] : {std::pair{"FROM", request.from}, std::pair{"TO", request.to}}) {
        if (value < lower || value > upper) {
            fail(EStepFailure::Refused, std::string(name) + " " + std::to_string(value) + " is outside " +
                                            who + "'s position limits " + limits);
            return out;
        }
    }
    if (request.from == request.to) {
        fail(EStepFailure::Refused, "FROM and TO are the same position");
        return out;
    }
    out.coefficients = CoefficientsFromBlock(at(COEFFICIENT_BLOCK_START), servo);
    const bool torqueWasOn = *at(Reg::TORQUE_ENABLE) != 0;

    CCoefficientChange change(servo);
    bool torqueTurnedOn = false;
    // Whatever ends the run, the servo gets back its torque setting and its coefficients.
    auto putBack = [&] {
        if (torqueTurnedOn) servo.WriteByte(Reg::TORQUE_ENABLE, 0);
        if (request.keep || !change.Touched()) return;
        if (!change.Restore().Ok()) {
            out.restoreFailed = true;
            out.restoreAdvice = change.RestoreAdvice();
        }
    };

    if (!request.set.empty()) {
        const CStoredWriteResult written = change.Apply(request.set);
        if (!written.Ok()) {
            fail(written.kind == EStoredWrite::NotVerified ? EStepFailure::NotVerified
                                                           : EStepFailure::NoAnswer,
                 "setting " + who + "'s coefficients: " + written.problem);
            putBack();
            return out;
        }
        out.coefficients = change.After();
    }
    out.band = out.coefficients.DeadBand() + 2;

    if (!torqueWasOn) {
        torqueTurnedOn = true;
        if (!servo.WriteByte(Reg::TORQUE_ENABLE, 1)) {
            fail(EStepFailure::NoAnswer, "turning " + who + "'s torque on: " + servo.Problem());
            putBack();
            return out;
        }
    }

    // To FROM, then at rest there for a moment.
    if (!servo.WriteWord(Reg::GOAL_POSITION, static_cast<uint16_t>(request.from))) {
        fail(EStepFailure::NoAnswer, "sending " + who + " to FROM: " + servo.Problem());
        putBack();
        return out;
    }
    const Clock::time_point settleStart = Clock::now();
    std::optional<Clock::time_point> restingSince;
    int position = 0;
    for (;;) {
        if (Stopped()) {
            fail(EStepFailure::Interrupted, "interrupted before the step");
            putBack();
            return out;
        }
        const auto read = servo.Position();
        if (!read) {
            fail(EStepFailure::NoAnswer, "reading " + who + "'s position: " + servo.Problem());
            putBack();
            return out;
        }
        position = *read;
        const Clock::time_point now = Clock::now();
        if (std::abs(position - request.from) > out.band)
            restingSince.reset();
        else if (!restingSince)
            restingSince = now;
        if (restingSince && now - *restingSince >= std::chrono::milliseconds(kStepRestMs)) break;
        if (now - settleStart > std::chrono::milliseconds(kStepSettleTimeoutMs)) {
            fail(EStepFailure::NotSettled, who + " did not come to rest at FROM " +
                                               std::to_string(request.from) + " within " +
                                               std::to_string(kStepSettleTimeoutMs / 1000) + " s (it is at " +
                                               std::to_string(position) + ")");
            putBack();
            return out;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    out.start = position;

    // The step, then the readings, timed from the moment the goal went out.
    const Clock::time_point stepAt = Clock::now();
    if (!servo.WriteWord(Reg::GOAL_POSITION, static_cast<uint16_t>(request.to))) {
        fail(EStepFailure::NoAnswer, "sending " + who + " to TO: " + servo.Problem());
        putBack();
        return out;
    }
    const double runMs = request.seconds * 1000.0;
    int misses = 0;
    for (long k = 1;; ++k) {
        if (Stopped()) {
            fail(EStepFailure::Interrupted,
                 "interrupted after " + std::to_string(out.samples.size()) + " readings");
            break;
        }
        if (request.periodMs > 0)
            std::this_thread::sleep_until(stepAt + k * std::chrono::milliseconds(request.periodMs));
        const double asked = MsSince(stepAt);
        if (asked > runMs) break;
        const auto read = servo.Position();
        if (read) {
            misses = 0;
            // The servo read its sensor somewhere in the exchange: its middle is the best guess, whatever
            // held up the host before the request or after the answer.
            out.samples.push_back({(asked + MsSince(stepAt)) / 2.0, *read});
        } else if (servo.PortLost() || ++misses >= kMissesInARow) {
            fail(EStepFailure::NoAnswer, "reading " + who + "'s position: " + servo.Problem());
            break;
        }
    }
    putBack();
    out.metrics = MeasureStep(out.samples, out.start, request.to, out.band);
    return out;
}
