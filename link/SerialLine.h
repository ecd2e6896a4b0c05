// Thin per-system layer under the serial transport: exclusive open, raw 8N1 at any rate, timed transfers,
// flushes and waits. SerialLine.cpp serves POSIX terminals, SerialLineWin32.cpp Windows COM ports; CMake
// compiles the one for the system being built for, so nothing above this layer knows which it got.
//
// Thread rules: the functions keep no state of their own; the transport serialises all use of one handle.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace SerialLine {
// A file descriptor, or a Windows HANDLE; -1 means "no port" on both systems.
using Handle = intptr_t;
constexpr Handle kNoPort = -1;
using Deadline = std::chrono::steady_clock::time_point;

// What the system wants passed to OpenExclusive for the port the operator named: "COM12" becomes
// "\\.\COM12" on Windows (only COM1 to COM8 are reachable without the prefix); POSIX paths stay as they are.
std::string DevicePathOf(const std::string& name);
// True when a port of that name exists; nothing is opened.
bool PortExists(const std::string& name);

// A port's line settings as they were before we changed them, kept opaque: the kernel's termios2 must stay
// out of every file that includes <termios.h>, and Windows keeps a DCB here.
struct CSavedLine {
    alignas(8) unsigned char bytes[64];
    bool valid = false;
};

// Opens a port exclusively for synchronous reading and writing; kNoPort when absent, busy or not a serial
// port. POSIX: non-blocking, TIOCEXCL and flock. Windows: share mode 0, so a port in use is refused. The
// settings found are kept in *saved for CloseExclusive.
Handle OpenExclusive(const char* path, CSavedLine* saved);
// Puts the saved settings back (a terminal opened by mistake gets its echo back), then closes.
void CloseExclusive(Handle port, const CSavedLine& saved);
// Raw 8 data bits, no parity, one stop bit, no flow control, at any rate; false when the driver refused.
bool SetRawLine(Handle port, uint32_t baud);
// The output rate in effect, 0 when it cannot be read.
uint32_t GetLineRate(Handle port);
void FlushInput(Handle port);
void FlushBoth(Handle port);
// Waits until the driver has handed all written output to the hardware.
void DrainOutput(Handle port);
// Asks USB serial drivers for their lowest latency timer; failures are of no consequence.
void RequestLowLatency(Handle port);

struct Transfer {
    int count = 0;      // bytes moved
    bool lost = false;  // the device went away (hang-up, adapter unplugged); the port is useless now
};
// Writes count bytes, giving up at the deadline.
Transfer WriteUntil(Handle port, const uint8_t* data, int count, Deadline deadline);
// Reads until count bytes are in or the deadline has passed, whichever comes first; returns as soon as the
// last byte is in. Looks at least once, even at or after the deadline, so bytes already there are taken
// rather than timed out. Windows waits in whole milliseconds, rounded up.
Transfer ReadUntil(Handle port, uint8_t* buffer, int count, Deadline deadline);
}  // namespace SerialLine
