// Playing a taught motion back: the servos are brought to its first row gently, then every row goes out as
// one sync write of GOAL_POSITION at its time. The client's `play` and the Servos window's "Play" run it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "link/MotionRecording.h"

class CServoUsb;

struct CPlayOptions {
    double speed = 1.0;  // row times are divided by it
    int loops = 1;       // times through the rows
};

inline constexpr double kSlowestPlay = 0.25;
inline constexpr double kFastestPlay = 4.0;
inline constexpr int kMostLoops = 100000;
// GOAL_SPEED for the way to the first row: a third of the full speed, so a servo far from it does not jump.
inline constexpr int kApproachSpeed = 30;
// How long the servos get to reach the first row before the rows start anyway, with a warning.
inline constexpr int kApproachWaitMs = 2000;
// A servo this close to its goal has arrived.
inline constexpr int kArrivedWithin = 2;

enum class EPlayEnd {
    Finished,  // every row of every loop went out
    Stopped,   // stop() said so: the servos hold where they were (torque stays on)
    Refused,   // nothing was written: a servo did not answer, or the options are out of range
    Failed,    // a write went wrong part way (the port went, a servo refused)
};

struct CPlayResult {
    EPlayEnd end = EPlayEnd::Failed;
    std::string message;    // why, for Refused and Failed
    uint64_t rowsSent = 0;  // sync writes of rows
};

struct CPlayEvents {
    // Asked between steps and while waiting, at least every 20 ms.
    std::function<bool()> stop;
    // Progress and warnings for the operator, one line each ("ID 2 did not reach 300 within 2 s").
    std::function<void(const std::string&)> note;
};

// The steps, in order; a step that fails ends the run there:
// 1. Checks each servo with reads only: its RETURN_LEVEL, GOAL_SPEED and PRESENT_POSITION. A servo that
//    does not answer refuses the whole play before anything is written ("row 1, column 3: ID 2 does not
//    answer": its column in the recording's header).
// 2. Each servo's goal becomes its present position (one plain write each), then torque goes on (one plain
//    write each), so no servo leaps to an old goal.
// 3. Each servo is sent to the first row's position at kApproachSpeed (one plain write of goal and speed)
//    and the servos' positions are read until all have arrived, kApproachWaitMs at most; then each gets its
//    own GOAL_SPEED back.
// 4. Each row goes out as one sync write of GOAL_POSITION with each servo's own value, at the row's time
//    (from the first row) divided by the speed; a late row goes out at once, none is left out. The next loop
//    begins one mean row interval after the last row. At a normal end nothing more is sent.
// Stopping after torque went on sends one sync write of the present positions: the servos hold where they
// are.
//
// Thread rules: runs on the calling thread; the events are called on it.
CPlayResult PlayMotion(CServoUsb& usb, const CMotionRecording& recording, const CPlayOptions& options,
                       const CPlayEvents& events);
