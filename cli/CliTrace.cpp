// The trace writes through the recorder's listener, so it shows exactly what the recording holds.
#include "cli/CliTrace.h"

#include <ostream>

#include "cli/CliOptions.h"
#include "link/FrameDecoder.h"
#include "link/ServoCheck.h"
#include "link/ServoUsb.h"

CCliTrace::CCliTrace(CServoUsb& servo, std::ostream& err)
    : m_servo(servo), m_nRate(servo.Transport()->ConfiguredRate()) {
    m_recorder.SetListener([this, &err](const CBusFrame& frame) {
        if (frame.rate != m_nRate && frame.rate != 0) err << RateChangeLine(frame) << "\n";
        if (frame.rate != 0) m_nRate = frame.rate;
        err << TraceLine(frame, m_servo.IsHighByteFirst() != 0) << std::endl;
    });
    m_servo.SetRecorder(&m_recorder);
}

CCliTrace::~CCliTrace() {
    m_servo.SetRecorder(nullptr);
}

int ReportFailure(std::ostream& err, const CExchangeOutcome& outcome, int timeoutMs) {
    if (outcome.kind == EOutcome::PortLost) return EXIT_PORT_UNAVAILABLE;
    err << "brennix: " << DescribeOutcome(outcome, timeoutMs) << "\n";
    return EXIT_NO_REPLY;
}

void WarnAlarms(std::ostream& err, int id, const std::string& where, uint8_t error,
                const CAlarmValues& values) {
    if (error == 0) return;
    err << "brennix: warning: ID " << id << where << " reports " << AlarmWarning(error, values) << "\n";
}

void WarnAlarms(CServoUsb& servo, std::ostream& err, const CExchangeOutcome& outcome) {
    if (outcome.kind != EOutcome::Good || outcome.error == 0) return;
    const CAlarmValues values =
        outcome.error & kAlarmsNeedingValues ? ReadAlarmValues(servo, outcome.answerId) : CAlarmValues{};
    WarnAlarms(err, outcome.answerId, "", outcome.error, values);
}
