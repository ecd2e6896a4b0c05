// Creation and teardown of the simulator's pseudo-terminal pair.
#include "sim/PtyPort.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <utility>

#include "sim/DevicePort.h"

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
    // Watched only now, so our own descriptor is not counted among the hosts'.
    m_nWatchFd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_nWatchFd >= 0 && inotify_add_watch(m_nWatchFd, name.data(), IN_CLOSE) < 0) {
        close(m_nWatchFd);
        m_nWatchFd = -1;
    }
    m_szError.clear();
    return true;
}

namespace {

// True when a descriptor other than `ownFd` of this process refers to the terminal at `path`, in any process.
// Only asked after a host closed the port while it was marked exclusive, so the walk through /proc is rare.
bool OthersHold(const std::string& path, int ownFd) {
    const std::string self = std::to_string(getpid());
    DIR* processes = opendir("/proc");
    if (!processes) return true;  // cannot tell: leave the mark alone
    bool held = false;
    std::array<char, 256> target{};
    while (const dirent* process = readdir(processes)) {
        const std::string pid = process->d_name;
        if (held || pid.find_first_not_of("0123456789") != std::string::npos) continue;
        const std::string fdDir = "/proc/" + pid + "/fd";
        DIR* fds = opendir(fdDir.c_str());
        if (!fds) continue;
        while (const dirent* fd = readdir(fds)) {
            if (fd->d_name[0] == '.' || (pid == self && std::to_string(ownFd) == fd->d_name)) continue;
            const std::string link = fdDir + "/" + fd->d_name;
            const ssize_t n = readlink(link.c_str(), target.data(), target.size() - 1);
            if (n > 0 &&
                path.compare(0, std::string::npos, target.data(), static_cast<std::size_t>(n)) == 0) {
                held = true;
                break;
            }
        }
        closedir(fds);
    }
    closedir(processes);
    return held;
}

}  // namespace

void CPtyPort::TakeCloses() {
    // Only whether a close happened counts: the kernel merges identical events queued back to back, so
    // opens and closes cannot be counted reliably.
    alignas(inotify_event) std::array<char, 4096> events{};
    bool closed = false;
    for (;;) {
        const ssize_t got = read(m_nWatchFd, events.data(), events.size());
        if (got <= 0) break;
        for (ssize_t at = 0; at < got;) {
            inotify_event event{};
            std::memcpy(&event, events.data() + at, sizeof event);
            if (event.mask & IN_CLOSE) closed = true;
            at += static_cast<ssize_t>(sizeof event + event.len);
        }
    }
    int exclusive = 0;
    if (!closed || m_nSlaveFd < 0 || ioctl(m_nSlaveFd, TIOCGEXCL, &exclusive) != 0 || exclusive == 0) return;
    if (!OthersHold(m_szSlavePath, m_nSlaveFd)) ioctl(m_nSlaveFd, TIOCNXCL);
}

void CPtyPort::Close() {
    if (m_nMasterFd >= 0 && !m_szDevicePath.empty()) {
        CloseServedDevice(m_nMasterFd);
        m_nMasterFd = -1;
        return;
    }
    // The watch first, so it holds no reference to the slave's node when the pair goes. Then the master: the
    // host's slave must see the hang-up even while our own slave descriptor is open.
    if (m_nWatchFd >= 0) close(m_nWatchFd);
    if (m_nMasterFd >= 0) close(m_nMasterFd);
    if (m_nSlaveFd >= 0) close(m_nSlaveFd);
    m_nMasterFd = -1;
    m_nSlaveFd = -1;
    m_nWatchFd = -1;
}

}  // namespace sim
