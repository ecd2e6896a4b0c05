// Finds every servo on the bus at every rate: a broadcast probe per rate, then a sweep of the IDs with
// answer windows as short as the wire allows, each find confirmed at the normal timeout.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <vector>

#include "link/AlarmWords.h"
#include "link/ScanLine.h"
#include "link/ServoUsb.h"

// The eight servo rates, fastest first.
std::vector<int> AllServoRates();

struct CScanSettings {
    std::vector<int> rates = AllServoRates();  // scanned in this order
    int firstId = 0;
    int lastId = 253;
    // Zero: measured from the first answer (bounded); otherwise the adapter margin the caller trusts.
    std::chrono::microseconds adapterMargin{0};
};

// Called on the scanning thread, in the order things happen. Any may be empty.
struct CScanEvents {
    // A rate's broadcast probe is about to go out, with the answer window used at that rate.
    std::function<void(int baud, std::chrono::microseconds window)> rateBegins;
    // The adapter cannot run at this rate: it is skipped.
    std::function<void(int baud)> rateSkipped;
    // The ID is about to be pinged at this rate.
    std::function<void(int baud, int id)> progress;
    // A servo answered twice, the second time at the normal timeout: it is there.
    std::function<void(int id, int baud)> found;
    // More than one servo answers to this ID at this rate (their answers to a ping collided, or a read of
    // their status span came back damaged or twice). Once per ID and rate.
    std::function<void(int id, int baud)> collision;
    // A servo found at this rate reports alarm bits in its status; the values explain them where known.
    // Once per ID and rate, after `found`.
    std::function<void(int id, int baud, uint8_t error, const CAlarmValues& values)> alarms;
    // Asked before every ping; true ends the scan there.
    std::function<bool()> stopRequested;
};

struct CFoundServo {
    int id;
    int baud;
    bool operator==(const CFoundServo&) const = default;
};

// What happened at one rate.
struct CRateOutcome {
    int baud = 0;
    bool settable = true;                // false: the adapter cannot run at it; nothing was sent
    bool answered = false;               // some byte came back to the broadcast probe
    std::chrono::microseconds window{};  // the answer window of the sweep at this rate
};

struct CScanOutcome {
    std::vector<CFoundServo> servos;  // in the order found: rates in the order asked, IDs ascending
    std::vector<CRateOutcome> rates;  // each rate reached, in order
    std::vector<CFoundServo> collisions;
    bool stopped = false;
    bool portLost = false;
    bool Ended() const { return stopped || portLost; }
};

// The judgement of a ping's answer, for the ID pinged: a clean status from it; or bytes that can only be the
// wired AND of several of its statuses (a clean one followed by more, or six or more each a bitwise subset of
// the status expected); or other damage; or nothing.
enum class EAnswerKind { Nothing, Clean, Collided, Damaged };
EAnswerKind JudgeAnswer(const uint8_t* bytes, int count, uint8_t id);
// The ID of the first clean ping status in the bytes, or -1.
int CleanStatusId(const uint8_t* bytes, int count);

// Thread rules: Scan and FindSingle run on the caller's thread and hold the bus (CServoUsb::AcquireBus) until
// they return, so no other exchange can run at a rate the scan has set; other threads' exchanges wait. Both
// leave the line at the rate they found it and the read timeout at the port's own. One scan at a time per
// scanner.
class CBusScanner {
public:
    CBusScanner(CServoUsb& servo, CScanLine& line);

    CScanOutcome Scan(const CScanSettings& settings, const CScanEvents& events);

    // The one-servo rescue: one broadcast ping per rate at the normal timeout. Every clean answer is listed
    // (ID 0xFE never is) and its ID confirmed with a read of its status span; a rate whose answers collided
    // is listed in `collisions` with ID -1, an ID whose read showed several servos with that ID.
    CScanOutcome FindSingle(const std::vector<int>& rates, const CScanEvents& events);

    // The adapter margin in use: the caller's, or the one measured so far.
    std::chrono::microseconds AdapterMargin() const { return m_margin; }

private:
    struct CAnswer {
        int got = 0;
        uint8_t bytes[CRawAnswer::kCapacity] = {};
        CScanLine::Clock::duration took{};
    };
    // A confirming ping's verdict and the alarm bits of its status.
    struct CConfirmed {
        EAnswerKind kind = EAnswerKind::Nothing;
        uint8_t error = 0;
    };

    // The broadcast probe, then the sweep when anything answered.
    void ScanRate(int baud, const CScanSettings& settings, const CScanEvents& events, CScanOutcome& outcome);
    void SweepRate(int baud, const CScanSettings& settings, const CScanEvents& events, CScanOutcome& outcome);
    // A status that came after its window but before the next ping (or within `window` more): its ID is
    // confirmed, the margin widened.
    void CatchLateAnswer(int baud, const CScanSettings& settings, const CScanEvents& events,
                         CScanOutcome& outcome,
                         std::chrono::microseconds window = std::chrono::microseconds{1});
    // Pings `id` through the command layer (so it is recorded) and reads up to a status with the window
    // set; the read returns at once when the status is complete.
    CAnswer Exchange(uint8_t id);
    // Pings once more at the normal timeout and judges what came back, with whatever more came within one
    // answer window (a second answerer's bytes).
    CConfirmed Confirm(int id, int baud);
    // Lists a servo the first time it is confirmed, after a read of its status span (CheckFoundServo) that
    // may show it shared; reports its alarms and any collision.
    void Report(int id, int baud, CConfirmed confirmed, const CScanEvents& events, CScanOutcome& outcome);
    // A found servo's second look: the read of its status span, and its alarms.
    EAnswerKind CheckFound(int id, int baud, CConfirmed confirmed, const CScanEvents& events);
    // Takes one timed answer into the margin: the median of all timed so far, so one slow outlier (a busy
    // host) neither sets nor widens every window by itself.
    void LearnMargin(CScanLine::Clock::duration roundTrip, int baud);
    // A status came after its window: the margin was too small, whatever the timings said.
    void WidenMargin();
    // Whether the scan must end before its next ping, and why; NoteStop records the cause in the outcome.
    enum class EStop { None, PortLost, Requested };
    EStop StopCause(const CScanEvents& events) const;
    static void NoteStop(EStop cause, CScanOutcome& outcome);
    // Puts the line at the rate; a rate the adapter cannot run is recorded and reported as skipped.
    enum class ERateSwitch { Ready, Skipped, Lost };
    ERateSwitch SwitchRate(int baud, const CScanEvents& events, CScanOutcome& outcome);

    CServoUsb& m_servo;
    CScanLine& m_line;
    std::chrono::microseconds m_margin{};
    std::chrono::microseconds m_lateFloor{};  // the least margin since an answer came late
    std::vector<std::chrono::microseconds> m_overheads;
    bool m_bMarginFixed = false;
};
