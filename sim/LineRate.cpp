// termios2 query of the line rate, in a file of its own: <asm/termbits.h> clashes with <termios.h>.
#include "LineRate.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace sim {

uint32_t ReadLineRate(int fd) {
    struct termios2 tio {};
    if (ioctl(fd, TCGETS2, &tio) != 0) return 0;
    return tio.c_ospeed;
}

}  // namespace sim
