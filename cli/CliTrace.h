// --trace: every frame of the run printed to stderr as it goes, and the client's words for a failed exchange.
//
// Thread rules: one client run, one thread; the trace prints from inside the exchange that made the frame.
#pragma once

#include <iosfwd>
#include <string>

#include "link/AlarmWords.h"
#include "link/BusRecorder.h"
#include "link/ExchangeOutcome.h"

class CServoUsb;

// Records the servo's exchanges for as long as it lives and prints each frame as one line, with a line of
// its own whenever the line rate differs from the previous frame's (or, for the first, from the port's).
class CCliTrace {
public:
    CCliTrace(CServoUsb& servo, std::ostream& err);
    ~CCliTrace();
    CCliTrace(const CCliTrace&) = delete;
    CCliTrace& operator=(const CCliTrace&) = delete;

private:
    CServoUsb& m_servo;
    uint32_t m_nRate;  // of the frame printed last
    // Only the printing needs the frames: a short ring is enough.
    CBusRecorder m_recorder{256};
};

// "brennix: <what went wrong>" for a failed exchange, or nothing when the port was lost (the run then names
// the lost adapter once, at its end). Returns the exit code for the failure.
int ReportFailure(std::ostream& err, const CExchangeOutcome& outcome, int timeoutMs);
// "brennix: warning: ID 3 reports over-heat (temperature 90 °C above 80 °C)" when a good status carries
// alarm bits; nothing otherwise. Bits that need readings to be put in words (the voltage's side of its
// limits) get them from the servo: two more reads.
void WarnAlarms(CServoUsb& servo, std::ostream& err, const CExchangeOutcome& outcome);
// The same warning with values already known; `where` follows the ID ("ID 3 at 57600 reports ...").
void WarnAlarms(std::ostream& err, int id, const std::string& where, uint8_t error,
                const CAlarmValues& values);
