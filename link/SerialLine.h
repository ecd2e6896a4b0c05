// Thin POSIX layer under the serial transport: exclusive open, raw 8N1 at any rate, flushes and waits.
#pragma once

#include <cstdint>

namespace SerialLine {
// Opens a tty non-blocking and exclusively (TIOCEXCL and flock); -1 when absent, busy or not a tty.
int OpenExclusive(const char* path);
void CloseExclusive(int fd);
// Raw 8 data bits, no parity, one stop bit, no flow control, at any rate (termios2 with BOTHER).
bool SetRawLine(int fd, uint32_t baud);
// The output rate in effect, 0 when it cannot be read.
uint32_t GetLineRate(int fd);
void FlushInput(int fd);
void FlushBoth(int fd);
// Waits until the driver has handed all written output to the hardware.
void DrainOutput(int fd);
// Asks USB serial drivers for their lowest latency timer; failures are of no consequence.
void RequestLowLatency(int fd);
}  // namespace SerialLine
