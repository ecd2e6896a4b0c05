// Silent IDs cost one answer window instead of the port's timeout; nothing is reported on the strength of
// one short window alone: every find is pinged again at the normal timeout first.
#include "link/BusScanner.h"

#include <algorithm>
#include <cstring>

#include "link/ControlTable.h"
#include "link/LineSettingsScope.h"
#include "link/Packet.h"
#include "link/ScanTiming.h"
#include "link/ServoCheck.h"
#include "link/ServoUsb.h"

using std::chrono::microseconds;
using namespace ScanTiming;

namespace {

// Answers timed at the first rate that answers, before its sweep.
constexpr std::size_t kTimingProbes = 3;

bool IsCleanPingStatus(const uint8_t* frame) {
    return frame[0] == 0xFF && frame[1] == 0xFF && frame[3] == 2 && HasGoodChecksum(frame);
}

bool IsBitSubset(uint8_t part, uint8_t whole) {
    return (part & ~whole) == 0;
}

}  // namespace

std::vector<int> AllServoRates() {
    return {BAUD_RATES.begin(), BAUD_RATES.end()};
}

EAnswerKind JudgeAnswer(const uint8_t* bytes, int count, uint8_t id) {
    if (count <= 0) return EAnswerKind::Nothing;
    if (count >= STATUS_BYTES && IsCleanPingStatus(bytes) && bytes[2] == id) {
        // What follows is a second answerer, unless it is another ID's status that came late.
        const int next = CleanStatusId(bytes + STATUS_BYTES, count - STATUS_BYTES);
        const bool lateOther = next >= 0 && next != id;
        return count == STATUS_BYTES || lateOther ? EAnswerKind::Clean : EAnswerKind::Collided;
    }
    // On the bus a 0 bit wins, so statuses of this ID that overlap can only clear bits of the status
    // expected (their error bytes taken as equal); a line held low clears them all and names nobody.
    if (count >= STATUS_BYTES && bytes[0] != 0 && bytes[1] != 0) {
        const uint8_t error = bytes[4];
        const uint8_t expected[STATUS_BYTES] = {0xFF, 0xFF,  id,
                                                2,    error, static_cast<uint8_t>(~(id + 2 + error))};
        bool subset = true;
        for (int i = 0; i < STATUS_BYTES; ++i) subset = subset && IsBitSubset(bytes[i], expected[i]);
        if (subset) return EAnswerKind::Collided;
    }
    return EAnswerKind::Damaged;
}

int CleanStatusId(const uint8_t* bytes, int count) {
    for (int at = 0; at + STATUS_BYTES <= count; ++at)
        if (IsCleanPingStatus(bytes + at) && bytes[at + 2] != BROADCAST_ID) return bytes[at + 2];
    return -1;
}

CBusScanner::CBusScanner(CServoUsb& servo, CScanLine& line) : m_servo(servo), m_line(line) {}

CBusScanner::EStop CBusScanner::StopCause(const CScanEvents& events) const {
    if (m_line.IsLost()) return EStop::PortLost;
    if (events.stopRequested && events.stopRequested()) return EStop::Requested;
    return EStop::None;
}

void CBusScanner::NoteStop(EStop cause, CScanOutcome& outcome) {
    if (cause == EStop::PortLost) outcome.portLost = true;
    if (cause == EStop::Requested) outcome.stopped = true;
}

CScanOutcome CBusScanner::Scan(const CScanSettings& settings, const CScanEvents& events) {
    CScanOutcome outcome;
    const CBusLock bus = m_servo.AcquireBus();
    m_bMarginFixed = settings.adapterMargin > microseconds{0};
    m_overheads.clear();
    m_lateFloor = microseconds{0};
    m_margin = m_bMarginFixed ? settings.adapterMargin : kDefaultAdapterMargin;
    // Destroyed before the bus lock: the line is back as found before another exchange can run.
    const CLineSettingsScope line(m_line, [&outcome] { return outcome.portLost; });
    for (const int baud : settings.rates) {
        NoteStop(StopCause(events), outcome);
        if (outcome.Ended()) break;
        const ERateSwitch entered = SwitchRate(baud, events, outcome);
        if (entered == ERateSwitch::Lost) break;
        if (entered == ERateSwitch::Skipped) continue;
        ScanRate(baud, settings, events, outcome);
        if (outcome.Ended()) break;
    }
    return outcome;
}

void CBusScanner::ScanRate(int baud, const CScanSettings& settings, const CScanEvents& events,
                           CScanOutcome& outcome) {
    // A silent probe skips the whole rate, and nothing after it could catch a late answer: it gets twice the
    // margin, and never less than the margin assumed before any answer was timed. Until an answer has been
    // timed nothing says how slow the adapter is: the probe waits as long as any exchange would.
    const bool untimed = m_overheads.empty() && !m_bMarginFixed;
    const microseconds probeWindow = untimed
                                         ? std::max(m_line.NormalTimeout(), AnswerWindow(baud, 2 * m_margin))
                                         : AnswerWindow(baud, std::max(2 * m_margin, kDefaultAdapterMargin));
    if (events.rateBegins) events.rateBegins(baud, probeWindow);
    m_line.SetReadWindow(probeWindow);
    const CAnswer probe = Exchange(BROADCAST_ID);
    if (probe.got == 0) {
        if (m_line.IsLost()) outcome.portLost = true;
        outcome.rates.push_back({baud, true, false, probeWindow});
        return;
    }
    // A clean answer to the broadcast names a servo that is there: if the sweep should miss it (its
    // answer delayed past the window by a busy host), it is asked for by name afterwards.
    const int named = CleanStatusId(probe.bytes, probe.got);
    if (probe.got == STATUS_BYTES) {
        LearnMargin(probe.took, baud);
        // Time the first answers a few more times before the sweep relies on them.
        for (std::size_t extra = 1; extra < kTimingProbes && m_overheads.size() < kTimingProbes; ++extra) {
            const CAnswer again = Exchange(BROADCAST_ID);
            if (again.got == STATUS_BYTES) LearnMargin(again.took, baud);
        }
    }
    outcome.rates.push_back({baud, true, true, AnswerWindow(baud, m_margin)});
    SweepRate(baud, settings, events, outcome);
    const bool missed = std::find(outcome.servos.begin(), outcome.servos.end(), CFoundServo{named, baud}) ==
                        outcome.servos.end();
    if (named >= settings.firstId && named <= settings.lastId && missed && !outcome.stopped &&
        !outcome.portLost)
        Report(named, baud, Confirm(named, baud), events, outcome);
}

void CBusScanner::SweepRate(int baud, const CScanSettings& settings, const CScanEvents& events,
                            CScanOutcome& outcome) {
    for (int id = settings.firstId; id <= settings.lastId; ++id) {
        NoteStop(StopCause(events), outcome);
        if (outcome.Ended()) return;
        if (events.progress) events.progress(baud, id);
        CatchLateAnswer(baud, settings, events, outcome);
        m_line.SetReadWindow(AnswerWindow(baud, m_margin));
        CAnswer answer = Exchange(static_cast<uint8_t>(id));
        if (answer.got == 0) continue;
        // An earlier ID's status that came after its window: the margin was too small. Confirm that ID
        // (it is the one that answered) and give this one its own try again.
        const int late = CleanStatusId(answer.bytes, answer.got);
        if (late >= settings.firstId && late < id) {
            WidenMargin();
            Report(late, baud, Confirm(late, baud), events, outcome);
            m_line.SetReadWindow(AnswerWindow(baud, m_margin));
            answer = Exchange(static_cast<uint8_t>(id));
            if (answer.got == 0) continue;
        }
        if (JudgeAnswer(answer.bytes, answer.got, static_cast<uint8_t>(id)) == EAnswerKind::Clean)
            LearnMargin(answer.took, baud);
        Report(id, baud, Confirm(id, baud), events, outcome);
    }
    // No later ping looks for the last ID's status should it come after its window: wait one more window.
    if (!outcome.Ended()) CatchLateAnswer(baud, settings, events, outcome, AnswerWindow(baud, m_margin));
}

void CBusScanner::CatchLateAnswer(int baud, const CScanSettings& settings, const CScanEvents& events,
                                  CScanOutcome& outcome, microseconds window) {
    // The next ping's write throws away whatever has arrived: look at it first.
    CRawAnswer waiting;
    m_servo.TakeLate(window, &waiting);
    const int late = CleanStatusId(waiting.bytes, waiting.got);
    if (late < settings.firstId || late > settings.lastId) return;
    WidenMargin();
    Report(late, baud, Confirm(late, baud), events, outcome);
}

CBusScanner::CAnswer CBusScanner::Exchange(uint8_t id) {
    CRawAnswer raw;
    CAnswer answer;
    const auto start = m_line.Now();
    m_servo.PingRaw(id, microseconds{0}, &raw);
    answer.took = m_line.Now() - start;
    answer.got = raw.got;
    std::memcpy(answer.bytes, raw.bytes, static_cast<size_t>(raw.got));
    return answer;
}

CBusScanner::CConfirmed CBusScanner::Confirm(int id, int baud) {
    m_line.SetReadWindow(microseconds{0});
    const CAnswer answer = Exchange(static_cast<uint8_t>(id));
    if (answer.got == 0) return {};
    // Whatever follows within one more window is a second answerer with the same ID.
    CRawAnswer tail;
    m_servo.TakeLate(AnswerWindow(baud, m_margin), &tail);
    uint8_t all[2 * CRawAnswer::kCapacity] = {};
    std::memcpy(all, answer.bytes, static_cast<size_t>(answer.got));
    std::memcpy(all + answer.got, tail.bytes, static_cast<size_t>(tail.got));
    // The rest of an answer that came late to the sweep's ping may come first: judge from this ID's clean
    // status where there is one.
    const int total = answer.got + tail.got;
    int from = 0;
    while (from + STATUS_BYTES <= total && !(IsCleanPingStatus(all + from) && all[from + 2] == id)) ++from;
    if (from + STATUS_BYTES > total) from = 0;
    const EAnswerKind kind = JudgeAnswer(all + from, total - from, static_cast<uint8_t>(id));
    if (kind == EAnswerKind::Clean) LearnMargin(answer.took, baud);
    return {kind, kind == EAnswerKind::Clean ? all[from + 4] : uint8_t{0}};
}

EAnswerKind CBusScanner::CheckFound(int id, int baud, CConfirmed confirmed, const CScanEvents& events) {
    if (confirmed.kind != EAnswerKind::Clean) return confirmed.kind;
    const CServoCheck check =
        CheckFoundServo(m_servo, static_cast<uint8_t>(id), baud, confirmed.error, m_margin);
    if (check.error != 0 && events.alarms) events.alarms(id, baud, check.error, check.values);
    return check.sharing == EIdSharing::Shared ? EAnswerKind::Collided : EAnswerKind::Clean;
}

void CBusScanner::Report(int id, int baud, CConfirmed confirmed, const CScanEvents& events,
                         CScanOutcome& outcome) {
    EAnswerKind kind = confirmed.kind;
    if (kind != EAnswerKind::Clean && kind != EAnswerKind::Collided) return;
    const CFoundServo servo{id, baud};
    if (std::find(outcome.servos.begin(), outcome.servos.end(), servo) == outcome.servos.end()) {
        outcome.servos.push_back(servo);
        if (events.found) events.found(id, baud);
        kind = CheckFound(id, baud, confirmed, events);
    }
    if (kind == EAnswerKind::Collided &&
        std::find(outcome.collisions.begin(), outcome.collisions.end(), servo) == outcome.collisions.end()) {
        outcome.collisions.push_back(servo);
        if (events.collision) events.collision(id, baud);
    }
}

void CBusScanner::LearnMargin(CScanLine::Clock::duration roundTrip, int baud) {
    if (m_bMarginFixed) return;
    m_overheads.push_back(Overhead(std::chrono::duration_cast<microseconds>(roundTrip), baud));
    std::vector<microseconds> sorted = m_overheads;
    const auto middle = sorted.begin() + static_cast<long>(sorted.size() / 2);
    std::nth_element(sorted.begin(), middle, sorted.end());
    m_margin = std::max(m_lateFloor, MarginFromOverhead(*middle));
}

void CBusScanner::WidenMargin() {
    m_lateFloor = std::min(kMaxAdapterMargin, 2 * m_margin);
    m_margin = m_lateFloor;
}

CBusScanner::ERateSwitch CBusScanner::SwitchRate(int baud, const CScanEvents& events, CScanOutcome& outcome) {
    if (m_line.SetLineRate(baud)) return ERateSwitch::Ready;
    if (m_line.IsLost()) {
        outcome.portLost = true;
        return ERateSwitch::Lost;
    }
    outcome.rates.push_back({baud, false, false, {}});
    if (events.rateSkipped) events.rateSkipped(baud);
    return ERateSwitch::Skipped;
}

CScanOutcome CBusScanner::FindSingle(const std::vector<int>& rates, const CScanEvents& events) {
    CScanOutcome outcome;
    const CBusLock bus = m_servo.AcquireBus();
    if (m_overheads.empty() && !m_bMarginFixed) m_margin = kDefaultAdapterMargin;
    // Destroyed before the bus lock: the line is back as found before another exchange can run.
    const CLineSettingsScope line(m_line, [&outcome] { return outcome.portLost; });
    for (const int baud : rates) {
        NoteStop(StopCause(events), outcome);
        if (outcome.Ended()) break;
        const ERateSwitch entered = SwitchRate(baud, events, outcome);
        if (entered == ERateSwitch::Lost) break;
        if (entered == ERateSwitch::Skipped) continue;
        if (events.rateBegins) events.rateBegins(baud, m_line.NormalTimeout());
        m_line.SetReadWindow(microseconds{0});
        CRawAnswer answer;
        m_servo.PingRaw(BROADCAST_ID, AnswerWindow(baud, m_margin), &answer);
        outcome.rates.push_back({baud, true, answer.got > 0, m_line.NormalTimeout()});
        if (answer.got == 0) continue;
        // Any servo may answer a broadcast; the first clean status names it, more bytes mean more servos.
        const uint8_t* all = answer.bytes;
        const int count = answer.got;
        const int id = count >= STATUS_BYTES && IsCleanPingStatus(all) ? all[2] : -1;
        bool shared = false;
        if (id >= 0 && id != BROADCAST_ID) {
            outcome.servos.push_back({id, baud});
            if (events.found) events.found(id, baud);
            // A lone answer may still be several servos with one ID whose answers overlapped cleanly.
            if (count == STATUS_BYTES)
                shared = CheckFound(id, baud, {EAnswerKind::Clean, all[4]}, events) == EAnswerKind::Collided;
        }
        if (id < 0 || count > STATUS_BYTES) {
            outcome.collisions.push_back({-1, baud});
            if (events.collision) events.collision(-1, baud);
        } else if (shared) {
            outcome.collisions.push_back({id, baud});
            if (events.collision) events.collision(id, baud);
        }
    }
    return outcome;
}
