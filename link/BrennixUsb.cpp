// The transport's logic on any system: deadlines on a monotonic clock, so a read returns as soon as its bytes
// are in and never later than the timeout after it began; a device that went away fails at once. The bytes
// themselves move through SerialLine, the one part that differs per system.
#include "link/BrennixUsb.h"

#include <algorithm>
#include <thread>

#include "link/PortDiscovery.h"
#include "link/SerialLine.h"

using Clock = std::chrono::steady_clock;

CBrennixUsb::CBrennixUsb() = default;

CBrennixUsb::~CBrennixUsb() {
    if (IsOpen()) Close();
}

void CBrennixUsb::SetPortLostHandler(std::function<void()> handler) {
    std::lock_guard<std::mutex> lock(m_mxHandler);
    m_onPortLost = std::move(handler);
}

void CBrennixUsb::MarkLost() {
    if (m_bPortLost.exchange(true)) return;
    std::function<void()> handler;
    {
        std::lock_guard<std::mutex> lock(m_mxHandler);
        handler = m_onPortLost;
    }
    if (handler) handler();
}

std::string CBrennixUsb::FindAdapterPort(uint16_t vendorId, uint16_t productId) {
    return MatchAdapterPort(ListUsbSerialPorts(), vendorId, productId);
}

int CBrennixUsb::FindDevice() {
    std::string path;
    if (!m_szForcedPath.empty()) {
        if (SerialLine::PortExists(m_szForcedPath)) path = m_szForcedPath;
    } else {
        path = FindAdapterPort(m_wVendorId, m_wProductId);
    }
    if (path.empty()) {
        m_nPortNumber = -1;
        return 0;
    }
    m_nPortNumber = PortNumberOf(path);
    m_szDevicePath = SerialLine::DevicePathOf(path);
    m_szPortName = path;
    return 1;
}

int CBrennixUsb::Open() {
    std::lock_guard<std::mutex> lock(m_mxPort);
    if (m_hPort != SerialLine::kNoPort || m_szDevicePath.empty()) return 0;
    const SerialLine::Handle fd = SerialLine::OpenExclusive(m_szDevicePath.c_str(), &m_savedLine);
    if (fd == SerialLine::kNoPort) return 0;
    // Raw at once: a cooked line would mangle frames if anything were exchanged before Configure.
    SerialLine::SetRawLine(fd, SerialLine::GetLineRate(fd));
    SerialLine::RequestLowLatency(fd);
    SerialLine::FlushBoth(fd);
    m_hPort = fd;
    m_nRate = SerialLine::GetLineRate(fd);
    m_bPortLost = false;
    m_nLastWriteBytes = 0;
    return 1;
}

int CBrennixUsb::Close() {
    std::lock_guard<std::mutex> lock(m_mxPort);
    if (m_hPort == SerialLine::kNoPort) return 0;
    // The settings put back may change the rate: a last frame that nothing answers (a broadcast, a sync
    // write) must have left the wire first, or it goes out at the old rate as noise. A lost line has nothing
    // to wait for. The far end gets longer than its wire time: a converter's FIFO, or a pseudo-terminal's
    // reader on a busy machine, takes the bytes some milliseconds after the driver let them go.
    if (!m_bPortLost) WaitForOutputToLeave(m_nRate.load(), kCloseMargin);
    SerialLine::CloseExclusive(m_hPort, m_savedLine);
    m_hPort = SerialLine::kNoPort;
    m_nRate = 0;
    m_bPortLost = false;
    return 1;
}

void CBrennixUsb::WaitForOutputToLeave(uint32_t baud, std::chrono::microseconds margin) {
    SerialLine::DrainOutput(m_hPort);
    // The driver may report "sent" while bytes still sit in the adapter's FIFO: allow their wire time too.
    auto wireTime = margin;
    if (baud > 0 && m_nLastWriteBytes > 0) {
        const auto bits = static_cast<long long>(m_nLastWriteBytes) * 10;
        wireTime = std::max(wireTime, std::chrono::microseconds(bits * 1000000 / baud + 1));
    }
    std::this_thread::sleep_until(m_tLastWrite + wireTime);
}

int CBrennixUsb::Configure(int baud) {
    std::lock_guard<std::mutex> lock(m_mxPort);
    if (m_hPort == SerialLine::kNoPort) return 0;
    const uint32_t previous = SerialLine::GetLineRate(m_hPort);
    WaitForOutputToLeave(previous);
    SerialLine::SetRawLine(m_hPort, static_cast<uint32_t>(baud));
    SerialLine::FlushBoth(m_hPort);
    m_nRate = SerialLine::GetLineRate(m_hPort);
    return static_cast<int>(previous);
}

int CBrennixUsb::LineRate() {
    std::lock_guard<std::mutex> lock(m_mxPort);
    if (m_hPort == SerialLine::kNoPort) return 0;
    return static_cast<int>(SerialLine::GetLineRate(m_hPort));
}

int CBrennixUsb::Write(const uint8_t* data, int count) {
    std::lock_guard<std::mutex> lock(m_mxPort);
    if (m_hPort == SerialLine::kNoPort || m_bPortLost || count <= 0) return 0;
    SerialLine::FlushInput(m_hPort);
    const auto deadline = Clock::now() + std::chrono::milliseconds(m_nTimeoutMs.load());
    const SerialLine::Transfer done = SerialLine::WriteUntil(m_hPort, data, count, deadline);
    if (done.lost) MarkLost();
    const int written = done.count;
    m_tLastWrite = Clock::now();
    m_nLastWriteBytes = written;
    return written;
}

CUsb::Deadline CBrennixUsb::ReadDeadline() const {
    const int64_t windowUs = m_nReadWindowUs.load();
    return Clock::now() + (windowUs > 0 ? std::chrono::microseconds(windowUs)
                                        : std::chrono::milliseconds(m_nTimeoutMs.load()));
}

int CBrennixUsb::ReadUntil(uint8_t* buffer, int count, Deadline deadline) {
    std::lock_guard<std::mutex> lock(m_mxPort);
    if (m_hPort == SerialLine::kNoPort || m_bPortLost || count <= 0) return 0;
    const SerialLine::Transfer done = SerialLine::ReadUntil(m_hPort, buffer, count, deadline);
    if (done.lost) MarkLost();
    return done.count;
}
