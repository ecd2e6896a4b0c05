// Runs the line at a rate and timeout of its own for as long as the scope lives, then puts both back.
#pragma once

#include "link/Usb.h"

// For a stretch of exchanges that need other line settings than the rest (a firmware transfer at the boot
// loader's rate and timeout). Thread rules: made and ended on the thread that holds the bus for the whole
// stretch, so no other exchange runs at the borrowed settings.
class CLineSettingsScope {
public:
    CLineSettingsScope(CUsb& port, int baud, int timeoutMs)
        : m_port(port), m_savedTimeoutMs(port.TimeoutMs()) {
        m_port.SetTimeoutMs(timeoutMs);
        m_savedBaud = m_port.Configure(baud);
    }
    ~CLineSettingsScope() {
        m_port.SetTimeoutMs(m_savedTimeoutMs);
        // A closed port had no rate to go back to (Configure answered 0 and changed nothing).
        if (m_savedBaud > 0) m_port.Configure(m_savedBaud);
    }
    CLineSettingsScope(const CLineSettingsScope&) = delete;
    CLineSettingsScope& operator=(const CLineSettingsScope&) = delete;

private:
    CUsb& m_port;
    const int m_savedTimeoutMs;
    int m_savedBaud = 0;
};
