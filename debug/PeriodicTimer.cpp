// The timer thread's wait, tick and schedule; waits use the steady clock so wall-clock changes do not matter.
#include "debug/PeriodicTimer.h"

#include <system_error>

namespace {

std::atomic<int> g_nLastTimerId{0};

}  // namespace

CPeriodicTimer::~CPeriodicTimer() {
    Stop();
}

int CPeriodicTimer::Start(Clock::duration period, std::function<void()> tick) {
    if (IsRunning() || period <= Clock::duration::zero() || !tick) return 0;
    m_tick = std::move(tick);
    m_bStop = false;
    m_nTicks = 0;
    m_nSkipped = 0;
    try {
        m_thread = std::thread(&CPeriodicTimer::Run, this, Clock::now(), period);
    } catch (const std::system_error&) {
        return 0;
    }
    int id = ++g_nLastTimerId;
    // After two billion timers the ids start over, still positive.
    if (id <= 0) id = g_nLastTimerId = 1;
    return id;
}

void CPeriodicTimer::Stop() {
    if (!m_thread.joinable()) return;
    {
        const std::lock_guard<std::mutex> lock(m_mxStop);
        m_bStop = true;
    }
    m_cvStop.notify_all();
    m_thread.join();
}

void CPeriodicTimer::Run(Clock::time_point start, Clock::duration period) {
    Clock::time_point deadline = start + period;
    std::unique_lock<std::mutex> lock(m_mxStop);
    while (!m_cvStop.wait_until(lock, deadline, [this] { return m_bStop; })) {
        lock.unlock();
        m_tick();
        ++m_nTicks;
        uint64_t skipped = 0;
        deadline = NextDeadline(deadline, period, Clock::now(), &skipped);
        m_nSkipped += skipped;
        lock.lock();
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
