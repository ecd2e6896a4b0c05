// Reads the bit rate a host configured on a pseudo-terminal.
#pragma once

#include <cstdint>

namespace sim {

// The output speed in bit/s of the terminal behind `fd`, as termios2 reports it, so custom rates set with
// BOTHER (76800, 128000, ...) come back exactly. On a pseudo-terminal master this is the slave's setting:
// the kernel answers termios requests on a master from the slave side. Returns 0 on failure.
uint32_t ReadLineRate(int fd);

}  // namespace sim
