// Uses the kernel's termios2 directly: glibc's termios cannot express rates such as 76800 or 128000, so this
// file must not include <termios.h> (its struct termios clashes with the kernel's).
#include "SerialLine.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstring>

extern "C" int ioctl(int fd, unsigned long request, ...) noexcept;

namespace SerialLine {

static_assert(sizeof(struct termios2) <= sizeof(CSavedLine::bytes));

int OpenExclusive(const char* path, CSavedLine* saved) {
    saved->valid = false;
    const int fd = ::open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return -1;
    struct termios2 tio {};
    // flock catches another holder even where TIOCEXCL does not (it is bypassed by privileged openers).
    if (ioctl(fd, TCGETS2, &tio) != 0 || ioctl(fd, TIOCEXCL) != 0 || ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return -1;
    }
    std::memcpy(saved->bytes, &tio, sizeof tio);
    saved->valid = true;
    return fd;
}

void CloseExclusive(int fd, const CSavedLine& saved) {
    if (saved.valid) {
        struct termios2 tio {};
        std::memcpy(&tio, saved.bytes, sizeof tio);
        // Without waiting for output: a line that went away must not hold up the close.
        ioctl(fd, TCSETS2, &tio);
    }
    // The exclusive flag belongs to the tty, not to our descriptor: clear it, or a reopen would be refused.
    ioctl(fd, TIOCNXCL);
    ::close(fd);
}

bool SetRawLine(int fd, uint32_t baud) {
    struct termios2 tio {};
    if (ioctl(fd, TCGETS2, &tio) != 0) return false;
    tio.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON |
                                          IXOFF | IXANY | INPCK);
    tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    tio.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    tio.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT) | CSIZE | PARENB | CSTOPB | CRTSCTS);
    tio.c_cflag |= static_cast<tcflag_t>(CS8 | CREAD | CLOCAL | BOTHER | (BOTHER << IBSHIFT));
    tio.c_ispeed = baud;
    tio.c_ospeed = baud;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    return ioctl(fd, TCSETS2, &tio) == 0;
}

uint32_t GetLineRate(int fd) {
    struct termios2 tio {};
    if (ioctl(fd, TCGETS2, &tio) != 0) return 0;
    return tio.c_ospeed;
}

void FlushInput(int fd) {
    ioctl(fd, TCFLSH, TCIFLUSH);
}

void FlushBoth(int fd) {
    ioctl(fd, TCFLSH, TCIOFLUSH);
}

void DrainOutput(int fd) {
    ioctl(fd, TCSBRK, 1);
}

void RequestLowLatency(int fd) {
    struct serial_struct serial {};
    if (ioctl(fd, TIOCGSERIAL, &serial) != 0) return;
    serial.flags |= ASYNC_LOW_LATENCY;
    ioctl(fd, TIOCSSERIAL, &serial);
}

}  // namespace SerialLine
