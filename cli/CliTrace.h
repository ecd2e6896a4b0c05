// --trace: every frame of the run printed to stderr as it goes, and the client's words for a failed exchange.
//
// Thread rules: one client run, one thread; the trace prints from inside the exchange that made the frame.
#pragma once

#include <iosfwd>
#include <string>

#include "BusRecorder.h"
#include "ExchangeOutcome.h"

class CServoUsb;

// Records the servo's exchanges for as long as it lives and prints each frame as one line.
class CCliTrace {
public:
    CCliTrace(CServoUsb& servo, std::ostream& err);
    ~CCliTrace();
    CCliTrace(const CCliTrace&) = delete;
    CCliTrace& operator=(const CCliTrace&) = delete;

private:
    CServoUsb& m_servo;
    // Only the printing needs the frames: a short ring is enough.
    CBusRecorder m_recorder{256};
};

// "brennix: <what went wrong>" for a failed exchange, or nothing when the port was lost (the run then names
// the lost adapter once, at its end). Returns the exit code for the failure.
int ReportFailure(std::ostream& err, const CExchangeOutcome& outcome, int timeoutMs);
// "brennix: warning: ID 3 reports over-heat" when a good status carries alarm bits; nothing otherwise.
void WarnAlarms(std::ostream& err, const CExchangeOutcome& outcome);
