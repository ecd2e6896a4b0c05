// The worker of a parameter sequence; the bus stays taken through the waits, as the servo is storing then.
#include "program/BusSequence.h"

#include <chrono>

#include "link/ServoUsb.h"

namespace {

// WriteData's return level: every write waits for the servo's status (unless broadcast).
constexpr uint8_t kAllReturn = 2;

}  // namespace

CBusSequence::CBusSequence(CServoUsb& usb) : m_usb(usb) {}

CBusSequence::~CBusSequence() {
    Stop();
}

bool CBusSequence::Start(std::vector<CBusStep> steps, ReportFn report) {
    if (m_bRunning) return false;
    m_bRunning = true;
    // The previous worker has sent its final report and is returning, if not gone; Start joins it.
    const unsigned started =
        m_worker.Start([this, steps = std::move(steps), report = std::move(report)](
                           std::stop_token token, unsigned) { Run(token, steps, report); });
    if (started == 0) m_bRunning = false;
    return started != 0;
}

void CBusSequence::Stop() {
    m_worker.Stop();
}

void CBusSequence::Finish() {
    m_worker.Join();
}

CStepReport CBusSequence::RunStep(const CBusStep& step, int index) {
    CStepReport out;
    out.index = index;
    switch (step.kind) {
        case CBusStep::EKind::Read:
            out.data.assign(step.count, 0);
            out.result = m_usb.ReadData(step.id, step.address, step.count, out.data.data());
            if (out.result < 0) out.data.clear();
            break;
        case CBusStep::EKind::Write:
            out.result = m_usb.WriteData(step.id, step.address, static_cast<uint8_t>(step.data.size()),
                                         step.data.data(), kAllReturn);
            break;
        case CBusStep::EKind::Reset:
            out.result = m_usb.Reset(step.id);
            break;
    }
    return out;
}

void CBusSequence::Run(const std::stop_token& token, const std::vector<CBusStep>& steps,
                       const ReportFn& report) {
    bool stopped = false;
    {
        const CBusLock bus = m_usb.AcquireBus();
        for (std::size_t i = 0; i < steps.size() && !stopped; ++i) {
            if (token.stop_requested()) {
                stopped = true;
                break;
            }
            const CBusStep& step = steps[i];
            CStepReport out = RunStep(step, static_cast<int>(i));
            if (step.waitMs > 0 && !SleepUnlessStopped(token, std::chrono::milliseconds(step.waitMs)))
                stopped = true;
            // A step cut short by a stop is not reported: its log line would claim a wait that did not end.
            if (stopped) break;
            out.last = i + 1 == steps.size();
            if (out.last) m_bRunning = false;
            report(std::move(out));
        }
    }
    if (stopped || steps.empty()) {
        m_bRunning = false;
        CStepReport end;
        end.last = true;
        report(std::move(end));
    }
}
