// Rate changes go through Configure, so the port's timeouts and flushes stay as every other caller has them.
#include "link/SerialScanLine.h"

#include <cstdlib>

bool CSerialScanLine::SetLineRate(int baud) {
    if (baud <= 0) return false;
    m_usb.Configure(baud);
    const int running = m_usb.LineRate();
    if (running == 0) {
        m_bGone = true;
        return false;
    }
    return std::llabs(static_cast<long long>(running) - baud) * 50 <= baud;
}

std::chrono::microseconds CSerialScanLine::NormalTimeout() {
    return std::chrono::milliseconds(m_usb.TimeoutMs());
}
