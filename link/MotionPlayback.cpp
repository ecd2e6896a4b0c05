// The play sequence: check, hold, torque on, approach, rows on time, and holding on a stop.
#include "link/MotionPlayback.h"

#include <chrono>
#include <cstdlib>

#include "link/ControlTable.h"
#include "link/Encodings.h"
#include "link/MotionTeach.h"
#include "link/ServoGroup.h"
#include "link/ServoUsb.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::chrono::milliseconds kApproachLookMs{20};

// What step 1 learns of a servo.
struct CServoAtStart {
    uint8_t returnLevel = 2;
    int goalSpeed = 0;
    int position = 0;
};

class CPlayer {
public:
    CPlayer(CServoUsb& usb, const CMotionRecording& recording, const CPlayOptions& options,
            const CPlayEvents& events)
        : m_usb(usb),
          m_rec(recording),
          m_options(options),
          m_events(events),
          m_highFirst(usb.IsHighByteFirst() != 0) {}

    CPlayResult Run() {
        if (m_options.speed < kSlowestPlay || m_options.speed > kFastestPlay)
            return Refuse("the speed must be from 0.25 to 4");
        if (m_options.loops < 1 || m_options.loops > kMostLoops)
            return Refuse("the loop count must be 1 or more");
        if (m_rec.ids.empty() || m_rec.rows.empty()) return Refuse("the recording holds no rows");
        if (!Check()) return m_result;
        if (Stopped()) return End(EPlayEnd::Stopped);
        if (!HoldAndTorqueOn() || !Approach()) return m_result;
        for (int loop = 0; loop < m_options.loops; ++loop)
            if (!PlayRows(loop)) return m_result;
        return End(EPlayEnd::Finished);
    }

private:
    bool Check() {
        for (std::size_t k = 0; k < m_rec.ids.size(); ++k) {
            const uint8_t id = m_rec.ids[k];
            CServoAtStart servo;
            uint8_t level = 0;
            // GOAL_SPEED (35-36) to PRESENT_POSITION (41-42) in one read.
            uint8_t span[8] = {};
            if (m_usb.ReadData(id, Reg::RETURN_LEVEL, 1, &level) != 1 ||
                m_usb.ReadData(id, Reg::GOAL_SPEED, sizeof span, span) != sizeof span) {
                Refuse("row 1, column " + std::to_string(k + 2) + ": ID " + std::to_string(id) +
                       " does not answer");
                return false;
            }
            servo.returnLevel = level;
            servo.goalSpeed = WordValue(span, m_highFirst);
            servo.position = DecodeSignMagnitude(
                static_cast<uint16_t>(WordValue(span + Reg::PRESENT_POSITION - Reg::GOAL_SPEED, m_highFirst)),
                Reg::POSITION_SIGN_BIT);
            m_start.push_back(servo);
        }
        return true;
    }

    bool HoldAndTorqueOn() {
        for (std::size_t k = 0; k < m_rec.ids.size(); ++k) {
            uint8_t goal[2];
            WordBytes(m_start[k].position, m_highFirst, goal);
            if (!Write(k, Reg::GOAL_POSITION, goal, 2, "its goal")) return false;
        }
        m_torqueOn = true;
        const uint8_t on = 1;
        for (std::size_t k = 0; k < m_rec.ids.size(); ++k)
            if (!Write(k, Reg::TORQUE_ENABLE, &on, 1, "torque on")) return false;
        return true;
    }

    bool Approach() {
        const CMotionRow& first = m_rec.rows.front();
        for (std::size_t k = 0; k < m_rec.ids.size(); ++k) {
            uint8_t goalAndSpeed[4];
            WordBytes(first.positions[k], m_highFirst, goalAndSpeed);
            WordBytes(kApproachSpeed, m_highFirst, goalAndSpeed + 2);
            if (!Write(k, Reg::GOAL_POSITION, goalAndSpeed, 4, "the first row's position")) return false;
        }
        const Clock::time_point giveUp = Clock::now() + std::chrono::milliseconds(kApproachWaitMs);
        std::vector<std::optional<int>> at;
        while (true) {
            if (Stopped()) return Hold();
            at = ReadPresentPositions(m_usb, m_rec.ids);
            bool arrived = true;
            for (std::size_t k = 0; k < at.size(); ++k)
                arrived = arrived && at[k] && std::abs(*at[k] - first.positions[k]) <= kArrivedWithin;
            if (arrived || Clock::now() >= giveUp) break;
            // A look every few ticks of a servo's motion leaves the bus to the others meanwhile.
            if (!SleepUnlessStopped(Clock::now() + kApproachLookMs, m_events.stop)) return Hold();
        }
        for (std::size_t k = 0; k < m_rec.ids.size(); ++k) {
            if (at[k] && std::abs(*at[k] - first.positions[k]) <= kArrivedWithin) continue;
            Note("ID " + std::to_string(m_rec.ids[k]) + " did not reach " +
                 std::to_string(first.positions[k]) + " within 2 s (" +
                 (at[k] ? "at " + std::to_string(*at[k]) : std::string("no answer")) + "); playing on");
        }
        for (std::size_t k = 0; k < m_rec.ids.size(); ++k) {
            uint8_t speed[2];
            WordBytes(m_start[k].goalSpeed, m_highFirst, speed);
            if (!Write(k, Reg::GOAL_SPEED, speed, 2, "its own speed back")) return false;
        }
        return true;
    }

    bool PlayRows(int loop) {
        const int64_t first = m_rec.rows.front().timeMs, last = m_rec.rows.back().timeMs;
        const int64_t rows = static_cast<int64_t>(m_rec.rows.size());
        // One loop lasts the rows' span and one mean interval more, so the last row and the next loop's first
        // are as far apart as two rows.
        const int64_t loopMs = last - first + (rows > 1 ? (last - first) / (rows - 1) : 0);
        if (loop == 0) m_playStart = Clock::now();
        for (const CMotionRow& row : m_rec.rows) {
            const double ms = static_cast<double>(loop * loopMs + row.timeMs - first) / m_options.speed;
            const auto due = m_playStart + std::chrono::duration_cast<Clock::duration>(
                                               std::chrono::duration<double, std::milli>(ms));
            if (!SleepUnlessStopped(due, m_events.stop)) return Hold();
            if (SyncWriteGoals(m_usb, m_rec.ids, row.positions) <= 0) {
                Fail("the row at " + std::to_string(row.timeMs) + " ms could not be sent" + PortWords());
                return false;
            }
            ++m_result.rowsSent;
        }
        return true;
    }

    // Every servo stops where it is: one sync write of the present positions of those that answer.
    bool Hold() {
        std::vector<uint8_t> ids;
        std::vector<int> positions;
        const auto at = ReadPresentPositions(m_usb, m_rec.ids);
        for (std::size_t k = 0; k < at.size(); ++k) {
            if (!at[k]) continue;
            ids.push_back(m_rec.ids[k]);
            positions.push_back(*at[k]);
        }
        if (!ids.empty()) SyncWriteGoals(m_usb, ids, positions);
        End(EPlayEnd::Stopped);
        return false;
    }

    bool Write(std::size_t k, uint8_t address, const uint8_t* data, uint8_t count, const char* what) {
        const uint8_t id = m_rec.ids[k];
        if (m_usb.WriteData(id, address, count, data, m_start[k].returnLevel) == 1) return true;
        Fail("ID " + std::to_string(id) + " did not take " + what + PortWords());
        return false;
    }

    std::string PortWords() const {
        if (m_usb.Transport()->IsPortLost()) return " (the adapter went away)";
        return m_torqueOn ? " (torque may be on)" : "";
    }

    bool Stopped() const { return m_events.stop && m_events.stop(); }
    void Note(const std::string& line) const {
        if (m_events.note) m_events.note(line);
    }
    CPlayResult End(EPlayEnd end) {
        m_result.end = end;
        return m_result;
    }
    CPlayResult Refuse(const std::string& why) {
        m_result.message = why;
        return End(EPlayEnd::Refused);
    }
    void Fail(const std::string& why) {
        m_result.message = why;
        m_result.end = EPlayEnd::Failed;
    }

    CServoUsb& m_usb;
    const CMotionRecording& m_rec;
    const CPlayOptions m_options;
    const CPlayEvents& m_events;
    const bool m_highFirst;
    std::vector<CServoAtStart> m_start;
    bool m_torqueOn = false;
    Clock::time_point m_playStart{};
    CPlayResult m_result;
};

}  // namespace

CPlayResult PlayMotion(CServoUsb& usb, const CMotionRecording& recording, const CPlayOptions& options,
                       const CPlayEvents& events) {
    return CPlayer(usb, recording, options, events).Run();
}
