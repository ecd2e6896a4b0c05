// The byte transport the command layer talks to; the serial port and test transports plug in underneath.
//
// Thread rules are the implementation's; the serial transport allows every call from any thread. Transports
// without a port of their own (test and fuzz transports) keep the defaults: always open, no rate, never lost.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

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
    // The line rate in effect, 0 when closed or unknown; for the bus recording.
    virtual uint32_t CurrentRate() const { return 0; }
    virtual int Reserved1(int32_t, int32_t) = 0;
    virtual int Reserved2(int32_t) = 0;

    // 1 when the port is open for exchanges afterwards, else 0.
    virtual int Open() { return 1; }
    // 1 when an open port was closed.
    virtual int Close() { return 0; }
    // The name the operator knows the port by (its device path once found).
    virtual std::string PortName() const { return {}; }
    // Sets the line rate, and the timeout given to SetTimeoutMs since; returns the rate in effect before, 0
    // when it cannot tell (closed, or no line under this transport).
    virtual int Configure(int /*baud*/) { return 0; }
    // The exchange timeout that the next Configure applies.
    virtual void SetTimeoutMs(int /*ms*/) {}
    virtual int TimeoutMs() const { return 0; }
    // True once the open port went away (adapter unplugged), so a failed exchange can say why; cleared by
    // Close.
    virtual bool IsPortLost() const { return false; }
    // The rate the open line runs at as its driver reports it (which may differ from what Configure asked),
    // 0 when closed or unknown.
    virtual int LineRate() { return static_cast<int>(CurrentRate()); }
    // Reads wait this long instead of the timeout while it is above zero (the bus scan's short answer
    // windows); zero restores the timeout.
    virtual void SetReadWindow(std::chrono::microseconds /*window*/) {}
    // Called once, on the thread that noticed, when the open port goes away: post, never call back.
    virtual void SetPortLostHandler(std::function<void()> /*handler*/) {}
    // Why the last FindDevice or Open failed, or why the open port was lost, in the operator's words; empty
    // when the transport has nothing to add (the serial transport leaves that to PortProblem).
    virtual std::string OpenProblem() const { return {}; }

    uint16_t m_wVendorId = 0x16C0;
    uint16_t m_wProductId = 0x05E1;
};
