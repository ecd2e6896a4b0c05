// termios2 set-up of a served device, in a file of its own: <asm/termbits.h> clashes with <termios.h>.
#include "sim/DevicePort.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

extern "C" int ioctl(int fd, unsigned long request, ...) noexcept;

namespace sim {

namespace {

int Fail(int fd, const std::string& reason, std::string* error) {
    if (fd >= 0) ::close(fd);
    if (error) *error = reason;
    return -1;
}

}  // namespace

int OpenServedDevice(const std::string& path, uint32_t baud, std::string* error) {
    // O_NONBLOCK also keeps open() from waiting for carrier on a modem line.
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return Fail(-1, path + ": " + std::strerror(errno), error);
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISCHR(info.st_mode))
        return Fail(fd, path + ": not a serial device", error);
    struct termios2 tio {};
    if (ioctl(fd, TCGETS2, &tio) != 0) return Fail(fd, path + ": not a serial device", error);
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ioctl(fd, TIOCEXCL) != 0)
        return Fail(fd, path + ": in use by another program", error);
    tio.c_iflag = 0;  // no break, parity, flow-control or newline handling: frames are binary
    tio.c_oflag = 0;
    tio.c_lflag = 0;
    tio.c_cflag = CS8 | CREAD | CLOCAL | BOTHER | (BOTHER << IBSHIFT);
    tio.c_ispeed = baud;
    tio.c_ospeed = baud;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (ioctl(fd, TCSETS2, &tio) != 0)
        return Fail(fd, path + ": cannot set " + std::to_string(baud) + " baud, raw 8N1", error);
    ioctl(fd, TCFLSH, TCIOFLUSH);
    return fd;
}

uint32_t ProbeServedDevice(const std::string& path, uint32_t baud, std::string* error) {
    const int fd = OpenServedDevice(path, baud, error);
    if (fd < 0) return 0;
    struct termios2 tio {};
    const uint32_t held = ioctl(fd, TCGETS2, &tio) == 0 ? tio.c_ospeed : 0;
    CloseServedDevice(fd);
    return held;
}

void CloseServedDevice(int fd) {
    // The exclusive flag belongs to the tty, not to the descriptor: clear it, or nobody could open it again.
    ioctl(fd, TIOCNXCL);
    ::close(fd);
}

}  // namespace sim
