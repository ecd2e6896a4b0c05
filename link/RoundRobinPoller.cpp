// The round-robin status poll: one exchange at a time, fair to other threads, patient with silent servos.
#include "link/RoundRobinPoller.h"

#include <algorithm>

#include "link/ControlTable.h"
#include "link/PollTiming.h"
#include "link/ServoUsb.h"

namespace {

using std::chrono::microseconds;

// How long the poller lets other threads go first before it reads again: one of their exchanges, with room.
constexpr std::chrono::milliseconds kFairnessLimit{20};
constexpr std::chrono::milliseconds kFirstRetry{250};
constexpr std::chrono::milliseconds kLongestRetry{2000};

}  // namespace

CRoundRobinPoller::CRoundRobinPoller(CServoUsb& usb) : m_usb(usb) {}

CRoundRobinPoller::~CRoundRobinPoller() {
    Stop();
}

CRoundRobinPoller::Clock::duration CRoundRobinPoller::RetryDelay(int failures) {
    if (failures <= 0) return Clock::duration::zero();
    Clock::duration delay = kFirstRetry;
    for (int i = 1; i < failures && delay < kLongestRetry; ++i) delay *= 2;
    return std::min<Clock::duration>(delay, kLongestRetry);
}

bool CRoundRobinPoller::Start(std::vector<uint8_t> ids, CEvents events, Clock::duration shortestRound) {
    if (ids.empty() || m_bRunning) return false;
    if (m_worker.joinable()) m_worker.join();  // ended by itself
    {
        const std::lock_guard<std::mutex> lock(m_mx);
        m_bStop = false;
        m_bPaused = false;
    }
    for (auto& count : m_answered) count = 0;
    m_nReads = 0;
    m_dBusLimitHz = 0.0;
    m_nLeastOverheadUs = -1;
    std::vector<CServoState> servos;
    for (uint8_t id : ids) servos.push_back({id});
    m_bRunning = true;
    m_worker =
        std::thread(&CRoundRobinPoller::Run, this, std::move(servos), std::move(events), shortestRound);
    return true;
}

void CRoundRobinPoller::Stop() {
    {
        const std::lock_guard<std::mutex> lock(m_mx);
        m_bStop = true;
    }
    m_cv.notify_all();
    if (m_worker.joinable()) m_worker.join();
    m_bRunning = false;
}

void CRoundRobinPoller::Pause() {
    std::unique_lock<std::mutex> lock(m_mx);
    m_bPaused = true;
    m_cv.notify_all();
    m_cv.wait(lock, [this] { return !m_bInExchange; });
}

void CRoundRobinPoller::Resume() {
    {
        const std::lock_guard<std::mutex> lock(m_mx);
        m_bPaused = false;
    }
    m_cv.notify_all();
}

bool CRoundRobinPoller::IsPaused() const {
    const std::lock_guard<std::mutex> lock(m_mx);
    return m_bPaused;
}

bool CRoundRobinPoller::WaitUntil(Clock::time_point when) {
    std::unique_lock<std::mutex> lock(m_mx);
    m_cv.wait_until(lock, when, [this] { return m_bStop || m_bPaused; });
    return !m_bStop;
}

bool CRoundRobinPoller::EnterExchange() {
    std::unique_lock<std::mutex> lock(m_mx);
    // A pause holds the worker here, off the bus, until it is resumed or stopped.
    m_cv.wait(lock, [this] { return m_bStop || !m_bPaused; });
    if (m_bStop) return false;
    m_bInExchange = true;
    return true;
}

void CRoundRobinPoller::LeaveExchange() {
    {
        const std::lock_guard<std::mutex> lock(m_mx);
        m_bInExchange = false;
    }
    m_cv.notify_all();
}

void CRoundRobinPoller::Run(std::vector<CServoState> servos, CEvents events, Clock::duration shortestRound) {
    Clock::time_point roundStart = Clock::now();
    std::size_t next = 0;
    bool readThisRound = false;
    while (true) {
        if (next == servos.size()) {
            // Between rounds: keep the shortest round, and when every servo is waiting for its retry, sleep
            // until the first of them is due instead of going round and round.
            Clock::time_point until = roundStart + shortestRound;
            if (!readThisRound) {
                const auto first =
                    std::min_element(servos.begin(), servos.end(),
                                     [](const auto& a, const auto& b) { return a.retryAt < b.retryAt; });
                until = std::max(until, first->retryAt);
            }
            if (!WaitUntil(until)) break;
            roundStart = Clock::now();
            next = 0;
            readThisRound = false;
        }
        CServoState& servo = servos[next++];
        if (servo.failures > 0 && Clock::now() < servo.retryAt) continue;
        m_usb.LetWaitingThreadsIn(kFairnessLimit);
        if (!EnterExchange()) break;
        const CPollReading reading = ReadOne(servo);
        LeaveExchange();
        readThisRound = true;
        UpdateBusLimit(servos);
        if (events.reading) events.reading(reading);
        const bool lost = reading.outcome == EOutcome::PortLost || m_usb.Transport()->IsPortLost();
        if (lost || reading.outcome == EOutcome::RefusedClosed) {
            if (events.ended) events.ended(lost ? EPollEnd::PortLost : EPollEnd::PortClosed);
            break;
        }
    }
    m_bRunning = false;
}

CPollReading CRoundRobinPoller::ReadOne(CServoState& servo) {
    CPollReading reading;
    reading.id = servo.id;
    reading.time = Clock::now();
    uint8_t image[IMAGE_SIZE] = {};
    CExchangeOutcome outcome;
    const int got = m_usb.ReadData(servo.id, Reg::STATUS_SPAN_START, Reg::STATUS_SPAN_LENGTH,
                                   image + Reg::STATUS_SPAN_START, &outcome);
    const Clock::time_point done = Clock::now();
    ++m_nReads;
    reading.outcome = outcome.kind;
    reading.answered = got == Reg::STATUS_SPAN_LENGTH;
    if (!reading.answered) {
        ++servo.failures;
        servo.retryAt = done + RetryDelay(servo.failures);
        return reading;
    }
    servo.failures = 0;
    ++m_answered[servo.id];
    reading.error = outcome.error;
    reading.sample = DecodeStatusSpan(image, m_usb.IsHighByteFirst() != 0);
    const int baud = static_cast<int>(m_usb.Transport()->ConfiguredRate());
    if (servo.returnDelayUs >= 0 && baud > 0) {
        // What this read took beyond the wire and the servo's own delay: the adapter, both ways, plus any
        // wait for the bus. The least of these is the adapter alone.
        const auto took = std::chrono::duration_cast<microseconds>(done - reading.time);
        const auto wire =
            ScanTiming::WireTime(PollTiming::SPAN_REQUEST_BYTES + PollTiming::SPAN_STATUS_BYTES, baud);
        const int64_t overhead = std::max<int64_t>(0, (took - wire).count() - servo.returnDelayUs);
        const int64_t least = m_nLeastOverheadUs.load();
        if (least < 0 || overhead < least) m_nLeastOverheadUs = overhead;
    }
    if (done >= servo.settingsDue) {
        // One read from RETURN_DELAY to TORQUE_ENABLE rather than two.
        constexpr uint8_t kSpan = Reg::TORQUE_ENABLE - Reg::RETURN_DELAY + 1;
        uint8_t settings[kSpan] = {};
        m_usb.LetWaitingThreadsIn(kFairnessLimit);
        if (m_usb.ReadData(servo.id, Reg::RETURN_DELAY, kSpan, settings) == kSpan) {
            servo.returnDelayUs = 2 * settings[0];
            reading.torque = settings[kSpan - 1] != 0;
            CAlarmValues limits;
            TakeAlarmLimits(settings + (Reg::MAX_TEMPERATURE - Reg::RETURN_DELAY), limits);
            reading.limits = limits;
            servo.settingsDue = done + kSettingsInterval;
        }
    }
    return reading;
}

void CRoundRobinPoller::UpdateBusLimit(const std::vector<CServoState>& servos) {
    const int64_t overhead = m_nLeastOverheadUs.load();
    const int baud = static_cast<int>(m_usb.Transport()->ConfiguredRate());
    if (overhead < 0 || baud <= 0) return;
    std::vector<microseconds> reads;
    for (const CServoState& servo : servos)
        if (servo.failures == 0 && servo.returnDelayUs >= 0)
            reads.push_back(PollTiming::SpanReadTime(baud, microseconds(servo.returnDelayUs),
                                                     microseconds(overhead / 2)));
    m_dBusLimitHz = PollTiming::RatePerServo(reads);
}
