// Reads and writes wait with poll() against a monotonic deadline, so a read returns as soon as its bytes are
// in and never later than the timeout after it began; a hang-up fails at once instead of spinning.
#include "BrennixUsb.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <thread>

#include "PortDiscovery.h"
#include "SerialLine.h"

using Clock = std::chrono::steady_clock;

namespace {

enum class Wait { Ready, TimedOut, HungUp };

Wait WaitFor(int fd, short events, Clock::time_point deadline) {
    for (;;) {
        // Once more at the deadline itself: bytes already there are taken rather than timed out.
        const auto remaining = std::max(deadline - Clock::now(), Clock::duration::zero());
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(remaining).count();
        struct timespec limit {
            static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)
        };
        struct pollfd pfd {
            fd, events, 0
        };
        const int ready = ::ppoll(&pfd, 1, &limit, nullptr);
        if (ready < 0) {
            if (errno == EINTR) continue;
            return Wait::HungUp;
        }
        if (ready == 0) return Wait::TimedOut;
        if (pfd.revents & events) return Wait::Ready;
        return Wait::HungUp;  // POLLHUP, POLLERR or POLLNVAL without data
    }
}

}  // namespace

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
        std::error_code error;
        if (std::filesystem::exists(m_szForcedPath, error)) path = m_szForcedPath;
    } else {
        path = FindAdapterPort(m_wVendorId, m_wProductId);
    }
    if (path.empty()) {
        m_nPortNumber = -1;
        return 0;
    }
    m_nPortNumber = PortNumberOf(path);
    m_szDevicePath = path;
    m_szPortName = path;
    return 1;
}

int CBrennixUsb::Open() {
    std::lock_guard<std::mutex> lock(m_mxPort);
    if (m_hPort >= 0 || m_szDevicePath.empty()) return 0;
    const int fd = SerialLine::OpenExclusive(m_szDevicePath.c_str(), &m_savedLine);
    if (fd < 0) return 0;
    // Raw at once: a cooked line would mangle frames if anything were exchanged before Configure.
    SerialLine::SetRawLine(fd, SerialLine::GetLineRate(fd));
    SerialLine::RequestLowLatency(fd);
    SerialLine::FlushBoth(fd);
    m_hPort = fd;
    m_nRate = SerialLine::GetLineRate(fd);
    m_bPortLost = false;
    m_nLastWriteBytes = 0;
    m_nAppliedTimeoutMs = m_nTimeoutMs.load();
    return 1;
}

int CBrennixUsb::Close() {
    std::lock_guard<std::mutex> lock(m_mxPort);
    if (m_hPort < 0) return 0;
    SerialLine::CloseExclusive(m_hPort, m_savedLine);
    m_hPort = -1;
    m_nRate = 0;
    m_bPortLost = false;
    return 1;
}

void CBrennixUsb::SetTimeouts(int ms) {
    m_nAppliedTimeoutMs = ms;
}

void CBrennixUsb::WaitForOutputToLeave(uint32_t baud) {
    SerialLine::DrainOutput(m_hPort);
    // The driver may report "sent" while bytes still sit in the adapter's FIFO: allow their wire time too.
    auto wireTime = std::chrono::microseconds(1000);
    if (baud > 0 && m_nLastWriteBytes > 0) {
        const auto bits = static_cast<long long>(m_nLastWriteBytes) * 10;
        wireTime = std::max(wireTime, std::chrono::microseconds(bits * 1000000 / baud + 1));
    }
    std::this_thread::sleep_until(m_tLastWrite + wireTime);
}

int CBrennixUsb::Configure(int baud) {
    std::lock_guard<std::mutex> lock(m_mxPort);
    if (m_hPort < 0) return 0;
    SetTimeouts(m_nTimeoutMs);
    const uint32_t previous = SerialLine::GetLineRate(m_hPort);
    WaitForOutputToLeave(previous);
    SerialLine::SetRawLine(m_hPort, static_cast<uint32_t>(baud));
    SerialLine::FlushBoth(m_hPort);
    m_nRate = SerialLine::GetLineRate(m_hPort);
    return static_cast<int>(previous);
}

int CBrennixUsb::LineRate() {
    std::lock_guard<std::mutex> lock(m_mxPort);
    if (m_hPort < 0) return 0;
    return static_cast<int>(SerialLine::GetLineRate(m_hPort));
}

int CBrennixUsb::Write(const uint8_t* data, int count) {
    std::lock_guard<std::mutex> lock(m_mxPort);
    if (m_hPort < 0 || m_bPortLost || count <= 0) return 0;
    SerialLine::FlushInput(m_hPort);
    const auto deadline = Clock::now() + std::chrono::milliseconds(m_nAppliedTimeoutMs.load());
    int written = 0;
    while (written < count) {
        const ssize_t n = ::write(m_hPort, data + written, static_cast<size_t>(count - written));
        if (n > 0) {
            written += static_cast<int>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) {
            MarkLost();
            break;
        }
        const Wait wait = WaitFor(m_hPort, POLLOUT, deadline);
        if (wait == Wait::HungUp) MarkLost();
        if (wait != Wait::Ready) break;
    }
    m_tLastWrite = Clock::now();
    m_nLastWriteBytes = written;
    return written;
}

int CBrennixUsb::Read(uint8_t* buffer, int count) {
    std::lock_guard<std::mutex> lock(m_mxPort);
    if (m_hPort < 0 || m_bPortLost || count <= 0) return 0;
    const int64_t windowUs = m_nReadWindowUs.load();
    const auto deadline =
        Clock::now() + (windowUs > 0 ? std::chrono::microseconds(windowUs)
                                     : std::chrono::milliseconds(m_nAppliedTimeoutMs.load()));
    int got = 0;
    while (got < count) {
        const Wait wait = WaitFor(m_hPort, POLLIN, deadline);
        if (wait == Wait::TimedOut) break;
        if (wait == Wait::HungUp) {
            MarkLost();
            break;
        }
        const ssize_t n = ::read(m_hPort, buffer + got, static_cast<size_t>(count - got));
        if (n > 0) {
            got += static_cast<int>(n);
        } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
            MarkLost();  // end of file or EIO: the device is gone
            break;
        }
    }
    return got;
}
