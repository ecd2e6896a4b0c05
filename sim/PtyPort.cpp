// Creation and teardown of the simulator's pseudo-terminal pair.
#include "PtyPort.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>

namespace sim {

bool CPtyPort::Open() {
    Close();
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
    // Watched only now, so our own descriptor is not counted among the hosts'.
    m_nWatchFd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_nWatchFd >= 0 && inotify_add_watch(m_nWatchFd, name.data(), IN_OPEN | IN_CLOSE) < 0) {
        close(m_nWatchFd);
        m_nWatchFd = -1;
    }
    m_nHostOpens = 0;
    return true;
}

void CPtyPort::TakeOpensAndCloses() {
    alignas(inotify_event) std::array<char, 4096> events{};
    bool closed = false;
    for (;;) {
        const ssize_t got = read(m_nWatchFd, events.data(), events.size());
        if (got <= 0) break;
        for (ssize_t at = 0; at < got;) {
            inotify_event event{};
            std::memcpy(&event, events.data() + at, sizeof event);
            if (event.mask & IN_OPEN) ++m_nHostOpens;
            if (event.mask & IN_CLOSE) {
                m_nHostOpens = std::max(0, m_nHostOpens - 1);
                closed = true;
            }
            at += static_cast<ssize_t>(sizeof event + event.len);
        }
    }
    if (closed && m_nHostOpens == 0 && m_nSlaveFd >= 0) ioctl(m_nSlaveFd, TIOCNXCL);
}

void CPtyPort::Close() {
    // Master first: the host's slave must see the hang-up even while our own slave descriptor is open.
    if (m_nMasterFd >= 0) close(m_nMasterFd);
    if (m_nSlaveFd >= 0) close(m_nSlaveFd);
    if (m_nWatchFd >= 0) close(m_nWatchFd);
    m_nMasterFd = -1;
    m_nSlaveFd = -1;
    m_nWatchFd = -1;
}

}  // namespace sim
