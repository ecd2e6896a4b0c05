// Thin POSIX layer under the serial transport: exclusive open, raw 8N1 at any rate, flushes and waits.
#pragma once

#include <cstdint>

namespace SerialLine {
// A port's line settings as they were before we changed them, kept opaque: the kernel's termios2 must stay
// out of every file that includes <termios.h>.
struct CSavedLine {
    alignas(8) unsigned char bytes[64];
    bool valid = false;
};

// Opens a tty non-blocking and exclusively (TIOCEXCL and flock); -1 when absent, busy or not a tty. The
// settings found are kept in *saved for CloseExclusive.
int OpenExclusive(const char* path, CSavedLine* saved);
// Puts the saved settings back (a terminal opened by mistake gets its echo back), then closes.
void CloseExclusive(int fd, const CSavedLine& saved);
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
