// The serial transport: finds the adapter's port, and opens, configures, writes, reads and closes it.
//
// Thread rules: every operation may be called from any thread; they are serialised on the port, so Close
// waits for a Read in progress (at most the timeout). The command layer above keeps whole exchanges together.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>

#include "link/SerialLine.h"
#include "link/Usb.h"

class CBrennixUsb : public CUsb {
public:
    CBrennixUsb();
    ~CBrennixUsb() override;

    int FindDevice() override;
    int Write(const uint8_t* data, int count) override;
    int ReadUntil(uint8_t* buffer, int count, Deadline deadline) override;
    Deadline ReadDeadline() const override;
    int Reserved1(int32_t, int32_t) override { return 0; }
    int Reserved2(int32_t) override { return 0; }

    // 1 when the port was opened (exclusively), else 0. Close puts back the line settings Open found.
    int Open() override;
    int Close() override;
    std::string PortName() const override { return m_szPortName; }
    // Applies the rate (raw 8N1); returns the rate in effect before, 0 when closed.
    int Configure(int baud) override;
    void SetTimeoutMs(int ms) override { m_nTimeoutMs = ms; }
    int TimeoutMs() const override { return m_nTimeoutMs; }
    // Reads wait this long instead of the timeout while it is above zero (the bus scan's short windows);
    // zero restores the timeout. Any thread.
    void SetReadWindow(std::chrono::microseconds window) override { m_nReadWindowUs = window.count(); }
    // The rate the open port runs at as the driver reports it, 0 when closed.
    int LineRate() override;
    // Name of the first adapter port with these USB IDs, or empty.
    static std::string FindAdapterPort(uint16_t vendorId, uint16_t productId);

    // Use this device instead of searching by USB IDs (other adapters, the simulator).
    void SetPortPath(const std::string& path) { m_szForcedPath = path; }
    bool IsOpen() const { return m_hPort != SerialLine::kNoPort; }
    // True once the open port went away (adapter unplugged); cleared by Close.
    bool IsPortLost() const override { return m_bPortLost.load(); }
    uint32_t ConfiguredRate() const override { return m_nRate.load(); }
    // Called once, on the thread that noticed, when the open port goes away.
    void SetPortLostHandler(std::function<void()> handler) override;

    std::string m_szPortName{"COM"};
    std::string m_szDevicePath;
    int32_t m_nPortNumber = -1;
    SerialLine::Handle m_hPort = SerialLine::kNoPort;

private:
    void MarkLost();

    std::atomic<int32_t> m_nTimeoutMs{50};
    // Returns once the last write has had its wire time, and at least `margin`, since it was made.
    void WaitForOutputToLeave(uint32_t baud,
                              std::chrono::microseconds margin = std::chrono::microseconds(1000));
    // How long a closing port gives its last frame before the old line settings come back.
    static constexpr std::chrono::microseconds kCloseMargin{20000};

    std::mutex m_mxPort;
    std::string m_szForcedPath;
    // What the port was set to before Open, put back by Close.
    SerialLine::CSavedLine m_savedLine;
    std::atomic<int64_t> m_nReadWindowUs{0};
    std::atomic<bool> m_bPortLost{false};
    std::atomic<uint32_t> m_nRate{0};
    std::function<void()> m_onPortLost;
    std::mutex m_mxHandler;
    // The last write, so a rate change can wait until its bytes have left the wire.
    std::chrono::steady_clock::time_point m_tLastWrite{};
    int m_nLastWriteBytes = 0;
};
