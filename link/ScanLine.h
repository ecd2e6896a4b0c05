// What the bus scan needs of the port besides its bytes: the line rate, a short read window and its state.
#pragma once

#include <chrono>

// Thread rules: called only by the thread that runs the scan, while it holds the bus.
class CScanLine {
public:
    using Clock = std::chrono::steady_clock;

    CScanLine() = default;
    virtual ~CScanLine() = default;
    CScanLine(const CScanLine&) = delete;
    CScanLine& operator=(const CScanLine&) = delete;

    // The rate the line runs at now, bit/s; 0 when it cannot be told.
    virtual int LineRate() = 0;
    // True when the line now runs at `baud`; false when the adapter cannot run at that rate.
    virtual bool SetLineRate(int baud) = 0;
    // How long each following read may wait for its bytes; zero gives the port its normal timeout again.
    virtual void SetReadWindow(std::chrono::microseconds window) = 0;
    // The port's normal timeout, which confirming pings wait by.
    virtual std::chrono::microseconds NormalTimeout() = 0;
    // True once the port has gone away (adapter unplugged).
    virtual bool IsLost() const = 0;
    // The clock answers are timed with.
    virtual Clock::time_point Now() { return Clock::now(); }
};
