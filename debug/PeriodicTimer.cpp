// The timer thread's wait, tick and schedule; waits use the steady clock so wall-clock changes do not matter.
#include "debug/PeriodicTimer.h"

#include <utility>

namespace {

std::atomic<int> g_nLastTimerId{0};

}  // namespace

CPeriodicTimer::~CPeriodicTimer() {
    Stop();
}

int CPeriodicTimer::Start(Clock::duration period, std::function<void()> tick) {
    if (IsRunning() || period <= Clock::duration::zero() || !tick) return 0;
    m_tick = std::move(tick);
    m_nTicks = 0;
    m_nSkipped = 0;
    const Clock::time_point start = Clock::now();
    const unsigned started =
        m_worker.Start([this, start, period](std::stop_token token, unsigned) { Run(token, start, period); });
    if (started == 0) return 0;
    int id = ++g_nLastTimerId;
    // After two billion timers the ids start over, still positive.
    if (id <= 0) id = g_nLastTimerId = 1;
    return id;
}

void CPeriodicTimer::Stop() {
    m_worker.Stop();
}

void CPeriodicTimer::Run(const std::stop_token& token, Clock::time_point start, Clock::duration period) {
    Clock::time_point deadline = start + period;
    while (SleepUntilStopped(token, deadline)) {
        m_tick();
        ++m_nTicks;
        uint64_t skipped = 0;
        deadline = NextDeadline(deadline, period, Clock::now(), &skipped);
        m_nSkipped += skipped;
    }
}

CPeriodicTimer::Clock::time_point NextDeadline(CPeriodicTimer::Clock::time_point served,
                                               CPeriodicTimer::Clock::duration period,
                                               CPeriodicTimer::Clock::time_point now, uint64_t* skipped) {
    const CPeriodicTimer::Clock::time_point next = served + period;
    if (now < next) return next;
    // Whole periods from the next deadline to now all passed during the tick.
    const auto passed = static_cast<uint64_t>((now - next) / period) + 1;
    if (skipped) *skipped += passed;
    return next + static_cast<CPeriodicTimer::Clock::duration::rep>(passed) * period;
}
