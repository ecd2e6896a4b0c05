// termios2 query of the line rate, in a file of its own: <asm/termbits.h> clashes with <termios.h>. Where
// termios2 is missing (QEMU's user mode) the standard rates still come back.
#include "sim/LineRate.h"

#include "link/KernelTermios.h"

namespace sim {

uint32_t ReadLineRate(int fd) {
    struct termios2 tio {};
    if (!KernelTermios::ReadTermios2(fd, &tio)) return 0;
    return tio.c_ospeed;
}

}  // namespace sim
