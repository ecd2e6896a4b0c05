// A bare pseudo-terminal whose master end the test drives by hand, for transport tests without a simulator.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>
#include <vector>

class CPtyPair {
public:
    CPtyPair() {
        m_master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (m_master < 0 || grantpt(m_master) != 0 || unlockpt(m_master) != 0) return;
        m_slavePath = ptsname(m_master);
        // Held open so the line stays up while the transport closes and reopens it.
        m_keepAlive = ::open(m_slavePath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    }
    ~CPtyPair() {
        CloseMaster();
        if (m_keepAlive >= 0) ::close(m_keepAlive);
    }
    const std::string& SlavePath() const { return m_slavePath; }
    void Send(const std::vector<uint8_t>& bytes) {
        if (::write(m_master, bytes.data(), bytes.size()) < 0) m_sendFailed = true;
    }
    // Everything the transport wrote, waiting up to timeoutMs for the first byte.
    std::vector<uint8_t> Received(int timeoutMs = 200) {
        std::vector<uint8_t> bytes;
        struct pollfd pfd {
            m_master, POLLIN, 0
        };
        while (::poll(&pfd, 1, bytes.empty() ? timeoutMs : 20) > 0 && (pfd.revents & POLLIN)) {
            uint8_t chunk[512];
            const ssize_t n = ::read(m_master, chunk, sizeof chunk);
            if (n <= 0) break;
            bytes.insert(bytes.end(), chunk, chunk + n);
        }
        return bytes;
    }
    void CloseMaster() {
        if (m_master >= 0) ::close(m_master);
        m_master = -1;
    }
    void CloseKeepAlive() {
        if (m_keepAlive >= 0) ::close(m_keepAlive);
        m_keepAlive = -1;
    }
    bool m_sendFailed = false;

private:
    int m_master = -1;
    int m_keepAlive = -1;
    std::string m_slavePath;
};
