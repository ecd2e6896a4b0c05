// Runs a servo's read, write or reset sequence on a worker thread, holding the bus from its first step to
// its last.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <stop_token>
#include <string>
#include <vector>

#include "link/Worker.h"

class CServoUsb;

// One exchange, the wait that lets the servo store what it got, and the line to log once both are over.
struct CBusStep {
    enum class EKind { Read, Write, Reset };
    EKind kind = EKind::Write;
    uint8_t id = 0;
    uint8_t address = 0;
    uint8_t count = 0;          // bytes to read (Read)
    std::vector<uint8_t> data;  // bytes to write (Write)
    int waitMs = 0;
    std::string log;  // empty when the caller decides from the result (Read)
};

// What a step gave; `last` marks the final report of a run, also when a stop cut the run short.
struct CStepReport {
    int index = -1;  // -1 for a final report after a stop, which carries no step
    int result = 0;  // the CServoUsb operation's return value
    std::vector<uint8_t> data;
    bool last = false;
};

// Thread rules: Start, Stop and IsRunning are for one controlling thread. The report callback runs on the
// worker, in step order, and must not block on the controlling thread: post, never call back.
class CBusSequence {
public:
    using ReportFn = std::function<void(CStepReport)>;

    explicit CBusSequence(CServoUsb& usb);
    // Stops a run and joins its worker.
    ~CBusSequence();
    CBusSequence(const CBusSequence&) = delete;
    CBusSequence& operator=(const CBusSequence&) = delete;

    // Starts the steps on a new worker; false, and nothing starts, while a run is still going.
    bool Start(std::vector<CBusStep> steps, ReportFn report);
    // Ends a run after the exchange in progress: waits are cut short and the remaining steps skipped.
    // Returns once the worker is gone, so within one link timeout.
    void Stop();
    // Lets a run do all its remaining steps and returns once the worker is gone: bounded by the steps'
    // exchanges and waits.
    void Finish();
    // True from Start until the worker has sent its final report.
    bool IsRunning() const { return m_bRunning.load(); }

private:
    void Run(const std::stop_token& token, const std::vector<CBusStep>& steps, const ReportFn& report);
    // One step's exchange; its report without `last`.
    CStepReport RunStep(const CBusStep& step, int index);

    CServoUsb& m_usb;
    std::atomic<bool> m_bRunning{false};
    CWorker m_worker;
};
