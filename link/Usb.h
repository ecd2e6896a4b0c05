// The byte transport the command layer talks to; the serial port and test transports plug in underneath.
#pragma once

#include <cstdint>

class CUsb {
public:
    CUsb() = default;
    virtual ~CUsb() = default;
    CUsb(const CUsb&) = delete;
    CUsb& operator=(const CUsb&) = delete;

    // Non-zero when the adapter was found and its port name prepared; never opens the port.
    virtual int FindDevice() = 0;
    // Number of bytes written; waiting input is discarded first, so a reply that came late, before this
    // write, is never taken for the next.
    virtual int Write(const uint8_t* data, int count) = 0;
    // Number of bytes read: returns when count bytes are in or the timeout has passed since the call began.
    virtual int Read(uint8_t* buffer, int count) = 0;
    // True once the open port went away (adapter unplugged), so a failed exchange can say why.
    virtual bool IsPortLost() const { return false; }
    // The line rate in effect, 0 when closed or unknown; for the bus recording.
    virtual uint32_t CurrentRate() const { return 0; }
    virtual int Reserved1(int32_t, int32_t) = 0;
    virtual int Reserved2(int32_t) = 0;

    uint16_t m_wVendorId = 0x16C0;
    uint16_t m_wProductId = 0x05E1;
};
