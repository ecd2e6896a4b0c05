// One background job at a time on a std::jthread: a stop token the job watches, and a generation number
// that tells the results of the current run from those of a run stopped or replaced since.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <stop_token>
#include <thread>

// Every threaded task of the program runs on one of these, so each stops the same way (its token, seen
// within one link timeout) and is joined before its owner goes.
//
// Thread rules: Start, Stop, RequestStop, Join and IsRunning are for one controlling thread (the GUI thread
// for the windows' workers); the job runs on the worker's thread and must never call them. Generation and
// IsCurrent may be called from any thread.
class CWorker {
public:
    // token: asked to stop by Stop or RequestStop. generation: the run's number, to tag what it posts.
    using Job = std::function<void(std::stop_token token, unsigned generation)>;

    CWorker() = default;
    // Stops a run and joins it.
    ~CWorker();
    CWorker(const CWorker&) = delete;
    CWorker& operator=(const CWorker&) = delete;

    // Stops and joins a previous run, then runs job on a new thread. Returns the run's generation, or 0
    // when no thread could be made (nothing runs then).
    unsigned Start(Job job);
    // Asks the job to stop; does not wait. What it posts on its way out is still current, so its final
    // report can put the window back to rest.
    void RequestStop();
    // Asks the job to stop, returns once the thread has ended and makes everything the run posted stale.
    // Safe to call when nothing runs.
    void Stop();
    // Waits for the job to end by itself, without asking it to stop.
    void Join();
    // A thread was started and not joined yet (it may have ended its job already).
    bool IsRunning() const { return m_thread.joinable(); }

    unsigned Generation() const { return m_nGeneration.load(); }
    // True for what the current run posts; false for a run stopped or replaced since.
    bool IsCurrent(unsigned generation) const { return generation == m_nGeneration.load(); }

private:
    std::jthread m_thread;
    std::atomic<unsigned> m_nGeneration{0};
};

// Worker thread: sleeps until the deadline unless a stop is asked first. False when stopped.
bool SleepUntilStopped(const std::stop_token& token, std::chrono::steady_clock::time_point deadline);
// Worker thread: sleeps the time unless a stop is asked first. False when stopped.
bool SleepUnlessStopped(const std::stop_token& token, std::chrono::steady_clock::duration time);
