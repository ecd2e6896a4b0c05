// The sweep's watch loop and the limits it proposes.
#include "link/CalibrationSweep.h"

#include <algorithm>
#include <thread>

#include "link/ControlTable.h"

CPositionLimits ProposeLimits(int lowest, int highest, int margin) {
    return {std::clamp(lowest - margin, 0, 1023), std::clamp(highest + margin, 0, 1023)};
}

CSweepOutcome WatchSweep(CRegisterAccess& servo, std::chrono::milliseconds duration,
                         const CSweepControl& control) {
    using Clock = std::chrono::steady_clock;
    CSweepOutcome out;
    const std::string who = "servo " + std::to_string(servo.Id());
    auto fail = [&](ESweepFailure failure, const std::string& why) {
        out.failure = servo.PortLost() ? ESweepFailure::PortLost : failure;
        out.problem = why;
        return out;
    };
    uint8_t limits[4] = {};
    if (!servo.Read(Reg::MIN_POSITION_LIMIT, 4, limits))
        return fail(ESweepFailure::Refused, who + " does not answer a read: " + servo.Problem());
    out.before = {servo.WordAt(limits), servo.WordAt(limits + 2)};
    if (out.before.min == 0 && out.before.max == 0)
        return fail(ESweepFailure::Refused,
                    who + " is in wheel mode (both position limits 0): it has no range to calibrate");
    const auto level = servo.Byte(Reg::RETURN_LEVEL);
    if (level) servo.SetReturnLevel(static_cast<uint8_t>(*level));
    if (!servo.WriteByte(Reg::TORQUE_ENABLE, 0))
        return fail(ESweepFailure::NoAnswer, "turning " + who + "'s torque off: " + servo.Problem());

    const Clock::time_point start = Clock::now();
    for (long k = 0;; ++k) {
        if (control.cancel && control.cancel())
            return fail(ESweepFailure::Cancelled, "cancelled; nothing written");
        if (control.finishNow && control.finishNow()) break;
        if (Clock::now() - start >= duration) break;
        const auto position = servo.Position();
        if (position) {
            if (out.readings == 0) out.lowest = out.highest = *position;
            out.lowest = std::min(out.lowest, *position);
            out.highest = std::max(out.highest, *position);
            ++out.readings;
            if (control.progress) control.progress(*position, out.lowest, out.highest);
        } else if (servo.PortLost()) {
            return fail(ESweepFailure::PortLost, "reading " + who + "'s position: " + servo.Problem());
        }
        std::this_thread::sleep_until(start + (k + 1) * kSweepPeriod);
    }
    if (out.readings == 0)
        return fail(ESweepFailure::NoAnswer, who + " answered no position read: " + servo.Problem());
    if (out.highest - out.lowest < kLeastSweep)
        return fail(ESweepFailure::NotMoved, "the joint did not move (positions " +
                                                 std::to_string(out.lowest) + ".." +
                                                 std::to_string(out.highest) + "); nothing written");
    return out;
}

CStoredWriteResult WritePositionLimits(CRegisterAccess& servo, const CPositionLimits& limits) {
    uint8_t bytes[4] = {};
    servo.PutWord(bytes, static_cast<uint16_t>(limits.min));
    servo.PutWord(bytes + 2, static_cast<uint16_t>(limits.max));
    return WriteStored(servo, Reg::MIN_POSITION_LIMIT, bytes);
}
