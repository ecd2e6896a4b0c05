// The line the simulator serves: a pseudo-terminal standing in for the USB-serial adapter (the simulator
// holds the master end), or an existing serial device such as a second adapter cross-wired to the host's.
#pragma once

#include <cstdint>
#include <string>

namespace sim {

// Owns a pty master and one slave descriptor. The slave descriptor is never read; it keeps the slave open so
// that the host closing its port neither hangs up the master (a master with no slave open polls POLLHUP
// forever) nor loses the host's termios settings between opens. The slave starts in raw mode: with the
// kernel's default echo, every status written to the master would come straight back as input.
// In device mode the device's own descriptor takes the master's place and there is no slave end.
// Not thread-safe; UseDevice, Open and Close belong to the owner's control thread.
class CPtyPort {
public:
    CPtyPort() = default;
    CPtyPort(const CPtyPort&) = delete;
    CPtyPort& operator=(const CPtyPort&) = delete;
    ~CPtyPort() { Close(); }

    // From the next Open on, serves this existing serial device, raw at `baud` bit/s, instead of a new pty.
    void UseDevice(std::string path, uint32_t baud);
    // Creates a fresh pty (or opens the device); the descriptor is non-blocking and close-on-exec. Returns
    // false (and holds nothing) on failure, with the reason in Error().
    bool Open();
    // Closes both ends; a host still holding the slave sees a hang-up (POLLHUP, reads of 0, writes EIO).
    void Close();

    bool IsOpen() const { return m_nMasterFd >= 0; }
    // Readable when a host has closed the slave; then call TakeCloses from the thread that
    // serves the master. -1 when the kernel offers no such notice (exclusive use is then never lifted).
    int WatchFd() const { return m_nWatchFd; }
    // After a host has closed the slave: when no descriptor but our own still holds it, exclusive use
    // (TIOCEXCL) is lifted. Our own slave descriptor keeps the terminal alive, so a host killed while it held
    // the port would otherwise leave it refused to every later opener but root.
    void TakeCloses();
    int MasterFd() const { return m_nMasterFd; }
    // The slave's device path, such as /dev/pts/7; kept after Close so it can still be reported.
    const std::string& SlavePath() const { return m_szSlavePath; }
    const std::string& Error() const { return m_szError; }

private:
    int m_nMasterFd = -1;
    int m_nSlaveFd = -1;
    int m_nWatchFd = -1;
    std::string m_szSlavePath;
    std::string m_szDevicePath;  // empty: pseudo-terminal mode
    uint32_t m_nDeviceBaud = 0;
    std::string m_szError;
};

}  // namespace sim
