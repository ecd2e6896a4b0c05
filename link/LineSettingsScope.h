// Runs the line at settings of its own for as long as the scope lives, then puts the old ones back.
#pragma once

#include <chrono>
#include <functional>

#include "link/ScanLine.h"
#include "link/Usb.h"

// For a stretch of exchanges that need other line settings than the rest: a firmware transfer at the boot
// loader's rate and timeout, a bus scan moving from rate to rate with short read windows. Thread rules:
// made and ended on the thread that holds the bus for the whole stretch, so no other exchange runs at the
// borrowed settings.
class CLineSettingsScope {
public:
    // The port at `baud` and `timeoutMs` until the scope ends; then its rate and timeout as they were.
    CLineSettingsScope(CUsb& port, int baud, int timeoutMs) {
        const int savedTimeoutMs = port.TimeoutMs();
        port.SetTimeoutMs(timeoutMs);
        const int savedBaud = port.Configure(baud);
        m_restore = [&port, savedTimeoutMs, savedBaud] {
            port.SetTimeoutMs(savedTimeoutMs);
            // A closed port had no rate to go back to (Configure answered 0 and changed nothing).
            if (savedBaud > 0) port.Configure(savedBaud);
        };
    }
    // The scan's line: whatever rates and read windows the stretch sets, the port's normal timeout and the
    // rate found come back, unless the line went away (`lost` says so, as the stretch saw it).
    CLineSettingsScope(CScanLine& line, std::function<bool()> lost) {
        const int savedBaud = line.LineRate();
        m_restore = [&line, savedBaud, lost = std::move(lost)] {
            line.SetReadWindow(std::chrono::microseconds{0});
            if ((lost && lost()) || line.IsLost() || savedBaud <= 0) return;
            if (line.LineRate() != savedBaud) line.SetLineRate(savedBaud);
        };
    }
    ~CLineSettingsScope() { m_restore(); }
    CLineSettingsScope(const CLineSettingsScope&) = delete;
    CLineSettingsScope& operator=(const CLineSettingsScope&) = delete;

private:
    std::function<void()> m_restore;
};
