// Starting, stopping and joining the worker thread; the stoppable sleeps.
#include "link/Worker.h"

#include <condition_variable>
#include <mutex>
#include <system_error>
#include <utility>

CWorker::~CWorker() {
    Stop();
}

unsigned CWorker::Start(Job job) {
    Stop();
    const unsigned generation = ++m_nGeneration;
    try {
        m_thread = std::jthread(
            [job = std::move(job), generation](std::stop_token token) { job(std::move(token), generation); });
    } catch (const std::system_error&) {
        return 0;
    }
    return generation;
}

void CWorker::RequestStop() {
    if (m_thread.joinable()) m_thread.request_stop();
}

void CWorker::Stop() {
    if (!m_thread.joinable()) return;
    RequestStop();
    Join();
    ++m_nGeneration;
}

void CWorker::Join() {
    if (m_thread.joinable()) m_thread.join();
}

bool SleepUntilStopped(const std::stop_token& token, std::chrono::steady_clock::time_point deadline) {
    // A wait of its own: the stop token's callback wakes it, no flag of the caller's is needed.
    std::mutex mutex;
    std::condition_variable_any wake;
    std::unique_lock<std::mutex> lock(mutex);
    wake.wait_until(lock, token, deadline, [] { return false; });
    return !token.stop_requested();
}

bool SleepUnlessStopped(const std::stop_token& token, std::chrono::steady_clock::duration time) {
    return SleepUntilStopped(token, std::chrono::steady_clock::now() + time);
}
