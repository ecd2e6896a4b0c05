// Teaching a motion by hand: torque off, then the present positions of the servos sampled on a fixed grid.
// The client's `record` and the Servos window's "Record" run the same loop.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "link/MotionRecording.h"

class CServoUsb;

// Torque off on each servo, one plain write each, its status awaited. False with the IDs that did not take
// it in *error; the others are off all the same.
bool TorqueOffEach(CServoUsb& usb, const std::vector<uint8_t>& ids, std::string* error);

struct CTeachTally {
    uint64_t rows = 0;     // rows handed to the sink
    uint64_t missed = 0;   // ticks without a row: a servo did not answer
    uint64_t skipped = 0;  // grid points let pass because a tick overran
    bool portLost = false;
    bool sinkRefused = false;  // the sink could not keep a row; the recording ended there
};

// Samples the servos' positions, one read each per tick, on a grid from the start: tick k at k x period, the
// first at once. Each complete row goes to the sink with its time since the start. Ends when `length` has
// passed (when given), when stop() says so (asked at least every 20 ms), when the port goes, or when the
// sink returns false. A tick that overran lets the grid points it covered go instead of serving them back
// to back. Torque is left as it is.
//
// Thread rules: runs on the calling thread; stop and sink are called on it.
CTeachTally RecordMotion(CServoUsb& usb, const std::vector<uint8_t>& ids, std::chrono::milliseconds period,
                         std::optional<std::chrono::milliseconds> length, const std::function<bool()>& stop,
                         const std::function<bool(const CMotionRow&)>& sink);

// The sampling periods one may ask for, in milliseconds.
inline constexpr int kShortestTeachPeriodMs = 5;
inline constexpr int kLongestTeachPeriodMs = 10000;
inline constexpr int kDefaultTeachPeriodMs = 20;

// Sleeps until the time unless stop() says so first (asked at least every 20 ms); false then.
bool SleepUnlessStopped(std::chrono::steady_clock::time_point when, const std::function<bool()>& stop);
