// Reads the status span of every servo of a list, one after another, on a worker thread of its own: the
// Servos window's live table and plot.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "link/AlarmWords.h"
#include "link/ExchangeOutcome.h"
#include "link/StatusSpan.h"

class CServoUsb;

// One read of one servo.
struct CPollReading {
    uint8_t id = 0;
    bool answered = false;
    CStatusSample sample;  // when answered
    uint8_t error = 0;     // the status's error byte, alarm bits, when answered
    EOutcome outcome = EOutcome::NoAnswer;
    std::chrono::steady_clock::time_point time;  // when the read was asked for
    // TORQUE_ENABLE, when this visit read it too (the first answer of a servo, then about once a second).
    std::optional<bool> torque;
    // MAX_TEMPERATURE, MAX_VOLTAGE and MIN_VOLTAGE, read with TORQUE_ENABLE: what the alarm bits compare with.
    std::optional<CAlarmValues> limits;
};

// Why the worker ended by itself.
enum class EPollEnd { PortLost, PortClosed };

// Each read is one exchange through the command layer, which takes the bus for that exchange only; between
// two reads the poller lets any thread waiting for the bus go first, so a page's command or a search's ping
// waits for one read at most. The servos are read as fast as the bus allows, but a round of the list takes
// at least the shortest round given, which keeps a bus without latency from spinning a core. A servo that
// does not answer costs one timeout and is asked again later and later (RetryDelay), so it does not slow
// the others. A lost port, or a port closed under it, ends the worker.
//
// Thread rules: Start, Stop, Pause and Resume are for one controlling thread. The callbacks run on the
// worker and must not wait for the controlling thread: post, never call back. The figures may be read from
// any thread.
//
// Besides the status span, a servo's RETURN_DELAY..TORQUE_ENABLE span is read after its first answer and then
// about once a second (kSettingsInterval): the return delay for the bus limit, torque for the table.
class CRoundRobinPoller {
public:
    using Clock = std::chrono::steady_clock;
    struct CEvents {
        std::function<void(const CPollReading&)> reading;
        std::function<void(EPollEnd)> ended;
    };

    explicit CRoundRobinPoller(CServoUsb& usb);
    // Stops and joins a running worker.
    ~CRoundRobinPoller();
    CRoundRobinPoller(const CRoundRobinPoller&) = delete;
    CRoundRobinPoller& operator=(const CRoundRobinPoller&) = delete;

    // Starts reading the servos in the order given; false, and nothing starts, with no IDs or while a
    // worker runs. The figures start again from nothing.
    bool Start(std::vector<uint8_t> ids, CEvents events, Clock::duration shortestRound = kShortestRound);
    // Returns once the worker has ended: within one exchange (a link timeout at most).
    void Stop();
    // Returns once no read of the poller is on the bus; none starts until Resume. Safe when not running.
    void Pause();
    void Resume();
    bool IsRunning() const { return m_bRunning.load(); }
    bool IsPaused() const;

    // Reads per second each answering servo could get on this bus, back to back: from the line rate, each
    // servo's return delay (read from it once) and the adapter latency seen (what the quickest read took
    // beyond its wire time and return delay, both ways together). 0 until a read has answered.
    double BusLimitHz() const { return m_dBusLimitHz.load(); }
    // The adapter's latency both ways together as seen so far, in microseconds; -1 before the first answer.
    int64_t AdapterLatencyUs() const { return m_nLeastOverheadUs.load(); }
    // Reads that answered, per ID, and reads made, since Start.
    uint64_t Answered(uint8_t id) const { return m_answered[id].load(); }
    uint64_t Reads() const { return m_nReads.load(); }

    // A servo that failed this many reads in a row is asked again this long after the last failure.
    static Clock::duration RetryDelay(int failures);
    // A hundred rounds a second at most, the ROBOT page's own 10 ms: more than the table and the plot show,
    // and room on a fast bus for the pages' commands.
    static constexpr Clock::duration kShortestRound = std::chrono::milliseconds(10);
    static constexpr Clock::duration kSettingsInterval = std::chrono::seconds(1);

private:
    struct CServoState {
        uint8_t id = 0;
        int failures = 0;
        Clock::time_point retryAt{};
        int returnDelayUs = -1;  // read after the first answer
        Clock::time_point settingsDue{};
    };

    void Run(std::vector<CServoState> servos, CEvents events, Clock::duration shortestRound);
    // Reads one servo and updates its state; the reading goes to the callback.
    CPollReading ReadOne(CServoState& servo);
    void UpdateBusLimit(const std::vector<CServoState>& servos);
    // Waits until the time, a stop or a pause; false on a stop.
    bool WaitUntil(Clock::time_point when);
    // Marks the worker on the bus unless a stop or pause came first; false then.
    bool EnterExchange();
    void LeaveExchange();

    CServoUsb& m_usb;
    std::thread m_worker;
    std::atomic<bool> m_bRunning{false};
    mutable std::mutex m_mx;
    std::condition_variable m_cv;
    bool m_bStop = false;        // guarded by m_mx
    bool m_bPaused = false;      // guarded by m_mx
    bool m_bInExchange = false;  // guarded by m_mx
    std::atomic<double> m_dBusLimitHz{0.0};
    std::atomic<int64_t> m_nLeastOverheadUs{-1};
    std::atomic<uint64_t> m_nReads{0};
    std::array<std::atomic<uint64_t>, 256> m_answered{};
};
