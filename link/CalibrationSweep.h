// Position limits from a hand sweep: torque off, the operator moves the joint through its whole range while
// PRESENT_POSITION is watched, and the range seen (widened by a margin) becomes MIN/MAX_POSITION_LIMIT.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "link/RegisterAccess.h"
#include "link/StoredWrite.h"

struct CPositionLimits {
    int min = 0;
    int max = 1023;
    bool operator==(const CPositionLimits&) const = default;
};

// The range seen widened by `margin` on each side, within 0..1023.
CPositionLimits ProposeLimits(int lowest, int highest, int margin);

// A sweep narrower than this is taken for a joint that was not moved.
inline constexpr int kLeastSweep = 20;
// How often the position is read during a sweep: a hand rests long enough at each end to be seen.
inline constexpr std::chrono::milliseconds kSweepPeriod{10};

enum class ESweepFailure { None, Refused, NoAnswer, NotMoved, Cancelled, PortLost };

struct CSweepOutcome {
    ESweepFailure failure = ESweepFailure::None;
    std::string problem;
    CPositionLimits before;  // the servo's limits when the sweep began
    int lowest = 0;          // the range seen
    int highest = 0;
    int readings = 0;
    bool Ok() const { return failure == ESweepFailure::None; }
};

// Thread rules: Watch blocks its caller for the sweep; the callbacks run on that thread between readings.
struct CSweepControl {
    std::function<bool()> finishNow;  // the operator is done early (Enter, a button): the range so far counts
    std::function<bool()> cancel;     // the operator gave up (Ctrl+C): nothing counts
    std::function<void(int position, int lowest, int highest)> progress;
};

// Reads the servo's limits (refusing wheel mode, both 0), turns its torque off (it stays off) and watches
// PRESENT_POSITION for `duration` or until finishNow. Writes nothing else.
CSweepOutcome WatchSweep(CRegisterAccess& servo, std::chrono::milliseconds duration,
                         const CSweepControl& control);

// MIN_POSITION_LIMIT and MAX_POSITION_LIMIT in one write, with unlock, lock and read-back.
CStoredWriteResult WritePositionLimits(CRegisterAccess& servo, const CPositionLimits& limits);
