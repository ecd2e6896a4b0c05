// A periodic callback on a thread of its own, on a drift-free steady-clock schedule.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <stop_token>

#include "link/Worker.h"

// Deadlines are start + k x period, never "last tick + period", so a late wake-up does not push the
// following ticks back. A tick that overruns lets the deadlines it covered pass unserved: ticks never pile
// up and run back to back to catch up.
//
// Thread rules: Start and Stop are called from one controlling thread; the tick runs on the timer's thread,
// one at a time, and must never call Stop. Ticks() and Skipped() may be read from any thread.
class CPeriodicTimer {
public:
    using Clock = std::chrono::steady_clock;

    CPeriodicTimer() = default;
    // Stops and joins a running timer.
    ~CPeriodicTimer();
    CPeriodicTimer(const CPeriodicTimer&) = delete;
    CPeriodicTimer& operator=(const CPeriodicTimer&) = delete;

    // Calls tick every period, the first time one period after the start. Returns the timer's id (positive,
    // unique in the process), or 0 when it is already running, the period is not positive or no thread
    // could be made; nothing ticks then.
    int Start(Clock::duration period, std::function<void()> tick);
    // Returns once the thread has ended: promptly between ticks, after the tick's end during one. Safe to
    // call when not running.
    void Stop();
    bool IsRunning() const { return m_worker.IsRunning(); }

    // Ticks run, and deadlines let pass because a tick overran, since the last Start.
    uint64_t Ticks() const { return m_nTicks.load(); }
    uint64_t Skipped() const { return m_nSkipped.load(); }

private:
    void Run(const std::stop_token& token, Clock::time_point start, Clock::duration period);

    CWorker m_worker;
    // Set by Start while no tick runs; called only by the timer's thread.
    std::function<void()> m_tick;
    std::atomic<uint64_t> m_nTicks{0};
    std::atomic<uint64_t> m_nSkipped{0};
};

// The deadline to wait for after the one just served, when its tick ended at `now`: the first of
// served + k x period (k >= 1) that lies after now. Adds the deadlines passed over to *skipped.
CPeriodicTimer::Clock::time_point NextDeadline(CPeriodicTimer::Clock::time_point served,
                                               CPeriodicTimer::Clock::duration period,
                                               CPeriodicTimer::Clock::time_point now, uint64_t* skipped);
