// The teach loop: a drift-free grid of ticks, each reading every servo's present position once.
#include "link/MotionTeach.h"

#include <algorithm>
#include <thread>

#include "link/ServoGroup.h"
#include "link/ServoUsb.h"
#include "link/TickGrid.h"

namespace {

using Clock = std::chrono::steady_clock;

// How long a sleep may last before it asks whether to stop: Ctrl+C may be taken by another thread, which
// does not wake this one.
constexpr std::chrono::milliseconds kStopCheck{20};

}  // namespace

bool SleepUnlessStopped(Clock::time_point when, const std::function<bool()>& stop) {
    while (!(stop && stop())) {
        const Clock::time_point now = Clock::now();
        if (now >= when) return true;
        std::this_thread::sleep_until(std::min(when, now + kStopCheck));
    }
    return false;
}

bool TorqueOffEach(CServoUsb& usb, const std::vector<uint8_t>& ids, std::string* error) {
    std::vector<uint8_t> refused;
    for (uint8_t id : ids)
        if (!WriteTorque(usb, id, false)) refused.push_back(id);
    if (refused.empty()) return true;
    if (error) *error = "torque off not confirmed by ID " + IdListText(refused);
    return false;
}

CTeachTally RecordMotion(CServoUsb& usb, const std::vector<uint8_t>& ids, std::chrono::milliseconds period,
                         std::optional<std::chrono::milliseconds> length, const std::function<bool()>& stop,
                         const std::function<bool(const CMotionRow&)>& sink) {
    CTeachTally tally;
    const Clock::time_point start = Clock::now();
    for (int64_t k = 0;; ++k) {
        const Clock::time_point due = start + k * period;
        if (length && due - start > *length) break;
        if (!SleepUnlessStopped(due, stop)) break;
        CMotionRow row;
        row.timeMs = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
        for (uint8_t id : ids) {
            const auto position = ReadPresentPosition(usb, id);
            if (!position) break;
            row.positions.push_back(*position);
        }
        if (usb.Transport()->IsPortLost()) {
            tally.portLost = true;
            break;
        }
        if (row.positions.size() == ids.size()) {
            if (!sink(row)) {
                tally.sinkRefused = true;
                break;
            }
            ++tally.rows;
        } else {
            ++tally.missed;
        }
        k = LetPassedTicksGo(start, period, k, Clock::now(), &tally.skipped);
    }
    return tally;
}
