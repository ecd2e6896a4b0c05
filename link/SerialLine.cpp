// Uses the kernel's termios2 directly: glibc's termios cannot express rates such as 76800 or 128000, so this
// file must not include <termios.h> (its struct termios clashes with the kernel's). Where termios2 is missing
// (QEMU's user mode), KernelTermios falls back to the standard rates.
#include "link/SerialLine.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "link/KernelTermios.h"
#include "link/PollUntil.h"

using KernelTermios::ReadTermios2;
using KernelTermios::WriteTermios2;

namespace SerialLine {

namespace {

int Fd(Handle port) {
    return static_cast<int>(port);
}

enum class Wait { Ready, TimedOut, HungUp };

Wait WaitFor(int fd, short events, Deadline deadline) {
    short revents = 0;
    const int ready = PollUntil(fd, events, deadline, &revents);
    if (ready < 0) return Wait::HungUp;
    if (ready == 0) return Wait::TimedOut;
    if (revents & events) return Wait::Ready;
    return Wait::HungUp;  // POLLHUP, POLLERR or POLLNVAL without data
}

}  // namespace

std::string DevicePathOf(const std::string& name) {
    return name;
}

bool PortExists(const std::string& name) {
    std::error_code error;
    return std::filesystem::exists(name, error);
}

static_assert(sizeof(struct termios2) <= sizeof(CSavedLine::bytes));

Handle OpenExclusive(const char* path, CSavedLine* saved) {
    saved->valid = false;
    const int fd = ::open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return kNoPort;
    struct termios2 tio {};
    // flock catches another holder even where TIOCEXCL does not (it is bypassed by privileged openers).
    if (!ReadTermios2(fd, &tio) || ioctl(fd, TIOCEXCL) != 0 || ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return kNoPort;
    }
    std::memcpy(saved->bytes, &tio, sizeof tio);
    saved->valid = true;
    return fd;
}

void CloseExclusive(Handle port, const CSavedLine& saved) {
    const int fd = Fd(port);
    if (saved.valid) {
        struct termios2 tio {};
        std::memcpy(&tio, saved.bytes, sizeof tio);
        // Without waiting for output: a line that went away must not hold up the close.
        WriteTermios2(fd, tio);
    }
    // The exclusive flag belongs to the tty, not to our descriptor: clear it, or a reopen would be refused.
    ioctl(fd, TIOCNXCL);
    ::close(fd);
}

bool SetRawLine(Handle port, uint32_t baud) {
    const int fd = Fd(port);
    struct termios2 tio {};
    if (!ReadTermios2(fd, &tio)) return false;
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
    return WriteTermios2(fd, tio);
}

uint32_t GetLineRate(Handle port) {
    const int fd = Fd(port);
    struct termios2 tio {};
    if (!ReadTermios2(fd, &tio)) return 0;
    return tio.c_ospeed;
}

void FlushInput(Handle port) {
    const int fd = Fd(port);
    ioctl(fd, TCFLSH, TCIFLUSH);
}

void FlushBoth(Handle port) {
    const int fd = Fd(port);
    ioctl(fd, TCFLSH, TCIOFLUSH);
}

void DrainOutput(Handle port) {
    const int fd = Fd(port);
    ioctl(fd, TCSBRK, 1);
}

void RequestLowLatency(Handle port) {
    const int fd = Fd(port);
    struct serial_struct serial {};
    if (ioctl(fd, TIOCGSERIAL, &serial) != 0) return;
    serial.flags |= ASYNC_LOW_LATENCY;
    ioctl(fd, TIOCSSERIAL, &serial);
}

Transfer WriteUntil(Handle port, const uint8_t* data, int count, Deadline deadline) {
    const int fd = Fd(port);
    Transfer done;
    while (done.count < count) {
        const ssize_t n = ::write(fd, data + done.count, static_cast<size_t>(count - done.count));
        if (n > 0) {
            done.count += static_cast<int>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) {
            done.lost = true;
            break;
        }
        const Wait wait = WaitFor(fd, POLLOUT, deadline);
        done.lost = wait == Wait::HungUp;
        if (wait != Wait::Ready) break;
    }
    return done;
}

Transfer ReadUntil(Handle port, uint8_t* buffer, int count, Deadline deadline) {
    const int fd = Fd(port);
    Transfer done;
    while (done.count < count) {
        const Wait wait = WaitFor(fd, POLLIN, deadline);
        if (wait == Wait::TimedOut) break;
        if (wait == Wait::HungUp) {
            done.lost = true;
            break;
        }
        const ssize_t n = ::read(fd, buffer + done.count, static_cast<size_t>(count - done.count));
        if (n > 0) {
            done.count += static_cast<int>(n);
        } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
            done.lost = true;  // end of file or EIO: the device is gone
            break;
        }
    }
    return done;
}

}  // namespace SerialLine
