// Probes a fresh pseudo-terminal pair with the same termios2 calls (and fall-back) the serial line uses.
#include "tests/support/LineRateProbe.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <map>
#include <mutex>

#include "link/KernelTermios.h"

bool LineRateSettable(uint32_t baud) {
    static std::mutex guard;
    static std::map<uint32_t, bool> known;
    std::lock_guard<std::mutex> lock(guard);
    const auto found = known.find(baud);
    if (found != known.end()) return found->second;
    bool settable = false;
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0) {
        const int slave = ::open(::ptsname(master), O_RDWR | O_NOCTTY | O_CLOEXEC);
        struct termios2 tio {};
        if (slave >= 0 && KernelTermios::ReadTermios2(slave, &tio)) {
            tio.c_cflag = (tio.c_cflag & ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT))) | BOTHER |
                          (BOTHER << IBSHIFT);
            tio.c_ispeed = baud;
            tio.c_ospeed = baud;
            struct termios2 back {};
            settable = KernelTermios::WriteTermios2(slave, tio) &&
                       KernelTermios::ReadTermios2(slave, &back) && back.c_ospeed == baud;
        }
        if (slave >= 0) ::close(slave);
    }
    if (master >= 0) ::close(master);
    known[baud] = settable;
    return settable;
}
