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
    // The previous worker has sent its final report and is returning, if not gone.
    Join();
    m_bStop = false;
    m_bRunning = true;
    m_thread = std::thread(&CBusSequence::Run, this, std::move(steps), std::move(report));
    return true;
}

void CBusSequence::Stop() {
    {
        // Under the wait's lock, so a worker between its check and its wait cannot miss the notice.
        const std::lock_guard<std::mutex> lock(m_mxWait);
        m_bStop = true;
    }
    m_cvWait.notify_all();
    Join();
}

void CBusSequence::Finish() {
    Join();
}

void CBusSequence::Join() {
    if (m_thread.joinable()) m_thread.join();
}

bool CBusSequence::Wait(int ms) {
    std::unique_lock<std::mutex> lock(m_mxWait);
    return !m_cvWait.wait_for(lock, std::chrono::milliseconds(ms), [this] { return m_bStop.load(); });
}

void CBusSequence::Run(std::vector<CBusStep> steps, ReportFn report) {
    bool stopped = false;
    {
        const CBusLock bus = m_usb.AcquireBus();
        for (std::size_t i = 0; i < steps.size() && !stopped; ++i) {
            if (m_bStop) {
                stopped = true;
                break;
            }
            const CBusStep& step = steps[i];
            CStepReport out;
            out.index = static_cast<int>(i);
            switch (step.kind) {
                case CBusStep::EKind::Read:
                    out.data.assign(step.count, 0);
                    out.result = m_usb.ReadData(step.id, step.address, step.count, out.data.data());
                    if (out.result < 0) out.data.clear();
                    break;
                case CBusStep::EKind::Write:
                    out.result =
                        m_usb.WriteData(step.id, step.address, static_cast<uint8_t>(step.data.size()),
                                        step.data.data(), kAllReturn);
                    break;
                case CBusStep::EKind::Reset:
                    out.result = m_usb.Reset(step.id);
                    break;
            }
            if (step.waitMs > 0 && !Wait(step.waitMs)) stopped = true;
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
