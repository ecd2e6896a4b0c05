// The bus scan's hold on a serial transport: rate changes checked against what the driver runs, and
// short read windows.
#pragma once

#include "link/ScanLine.h"
#include "link/Usb.h"

// Thread rules: as CScanLine; the transport itself may be used by other threads meanwhile (it locks).
class CSerialScanLine : public CScanLine {
public:
    explicit CSerialScanLine(CUsb& usb) : m_usb(usb) {}

    int LineRate() override { return m_usb.LineRate(); }
    // A driver that cannot divide its clock to the rate runs another one, or refuses; servo UARTs still
    // read a line within 2 % of their rate, so only a larger miss counts as "cannot".
    bool SetLineRate(int baud) override;
    void SetReadWindow(std::chrono::microseconds window) override { m_usb.SetReadWindow(window); }
    std::chrono::microseconds NormalTimeout() override;
    bool IsLost() const override { return m_bGone || m_usb.IsPortLost(); }

private:
    CUsb& m_usb;
    bool m_bGone = false;  // the driver no longer answers line-setting requests: the device went away
};
