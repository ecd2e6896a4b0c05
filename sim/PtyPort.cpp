// Creation and teardown of the simulator's pseudo-terminal pair.
#include "PtyPort.h"

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <utility>

#include "DevicePort.h"

namespace sim {

void CPtyPort::UseDevice(std::string path, uint32_t baud) {
    m_szDevicePath = std::move(path);
    m_nDeviceBaud = baud;
}

bool CPtyPort::Open() {
    Close();
    m_szError.clear();
    if (!m_szDevicePath.empty()) {
        m_nMasterFd = OpenServedDevice(m_szDevicePath, m_nDeviceBaud, &m_szError);
        m_szSlavePath = m_szDevicePath;
        return m_nMasterFd >= 0;
    }
    m_szError = "cannot create a pseudo-terminal";
    m_nMasterFd = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_nMasterFd < 0) return false;
    std::array<char, 128> name{};
    if (grantpt(m_nMasterFd) != 0 || unlockpt(m_nMasterFd) != 0 ||
        ptsname_r(m_nMasterFd, name.data(), name.size()) != 0 ||
        fcntl(m_nMasterFd, F_SETFL, fcntl(m_nMasterFd, F_GETFL) | O_NONBLOCK) != 0) {
        Close();
        return false;
    }
    m_szSlavePath = name.data();
    m_nSlaveFd = open(name.data(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios tio{};
    if (m_nSlaveFd < 0 || tcgetattr(m_nSlaveFd, &tio) != 0) {
        Close();
        return false;
    }
    cfmakeraw(&tio);
    if (tcsetattr(m_nSlaveFd, TCSANOW, &tio) != 0) {
        Close();
        return false;
    }
    m_szError.clear();
    return true;
}

void CPtyPort::Close() {
    if (m_nMasterFd >= 0 && !m_szDevicePath.empty()) {
        CloseServedDevice(m_nMasterFd);
        m_nMasterFd = -1;
        return;
    }
    // Master first: the host's slave must see the hang-up even while our own slave descriptor is open.
    if (m_nMasterFd >= 0) close(m_nMasterFd);
    if (m_nSlaveFd >= 0) close(m_nSlaveFd);
    m_nMasterFd = -1;
    m_nSlaveFd = -1;
}

}  // namespace sim
