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
    // The point in time by which every read is over, on the transport's own clock (a test transport may keep
    // a clock of its own, so only the transport makes them).
    using Deadline = std::chrono::steady_clock::time_point;

    // Number of bytes read: returns when count bytes are in or the deadline has passed, whichever comes
    // first. Looks at least once, so bytes already there are taken even at the deadline.
    virtual int ReadUntil(uint8_t* buffer, int count, Deadline deadline) = 0;
    // When a read that begins now must be over: the read window's end while one is set, else the timeout's.
    virtual Deadline ReadDeadline() const { return std::chrono::steady_clock::now(); }
    // One read that begins now and is over by ReadDeadline().
    int Read(uint8_t* buffer, int count) { return ReadUntil(buffer, count, ReadDeadline()); }
    // The rate Open or Configure last left the line at, 0 when closed or unknown; kept after the port went
    // away, so the recording still tells the rate its last frames were meant for. Cheap, any thread.
    virtual uint32_t ConfiguredRate() const { return 0; }
    virtual int Reserved1(int32_t, int32_t) = 0;
    virtual int Reserved2(int32_t) = 0;

    // 1 when the port is open for exchanges afterwards, else 0.
    virtual int Open() { return 1; }
    // 1 when an open port was closed.
    virtual int Close() { return 0; }
    // The name the operator knows the port by (its device path once found).
    virtual std::string PortName() const { return {}; }
    // Sets the line rate; returns the rate in effect before, 0 when it cannot tell (closed, or no line under
    // this transport).
    virtual int Configure(int /*baud*/) { return 0; }
    // The exchange timeout: how long a read may wait (without a read window) and a write may take. Takes
    // effect with the next read or write, open port or not.
    virtual void SetTimeoutMs(int /*ms*/) {}
    virtual int TimeoutMs() const { return 0; }
    // True once the open port went away (adapter unplugged), so a failed exchange can say why; cleared by
    // Close.
    virtual bool IsPortLost() const { return false; }
    // The rate the open line runs at as its driver reports it now (which may differ from what Configure
    // asked), 0 when closed, lost or unknown.
    virtual int LineRate() { return static_cast<int>(ConfiguredRate()); }
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
