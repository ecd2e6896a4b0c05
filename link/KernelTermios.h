// The kernel's termios2 line settings, with a fall-back to the plain termios calls where termios2 is
// missing: QEMU's user mode answers TCGETS2 and TCSETS2 with ENOSYS, and some old kernels and drivers refuse
// them. The fall-back carries only the standard rates (no 76800 or 128000), and a rate the layer below does
// not keep (QEMU passes 38400 to 460800 but turns 500000 and 1000000 into 0) is refused with the line left
// as it was. Header-only, so the simulator shares it without linking the link's code; include it only where
// <termios.h> is not included (the kernel's struct termios clashes with the C library's).
//
// Thread rules: plain system calls on a descriptor; any thread, one at a time per descriptor.
#pragma once

#include <asm/ioctls.h>
#include <asm/termbits.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

extern "C" int ioctl(int fd, unsigned long request, ...) noexcept;

namespace KernelTermios {

struct CStandardRate {
    uint32_t baud;
    tcflag_t code;
};

inline constexpr CStandardRate STANDARD_RATES[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},         {150, B150},
    {200, B200},         {300, B300},         {600, B600},         {1200, B1200},       {1800, B1800},
    {2400, B2400},       {4800, B4800},       {9600, B9600},       {19200, B19200},     {38400, B38400},
    {57600, B57600},     {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000},
    {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
};

// The rate of a plain termios speed code; 0 for B0 or an unknown code.
inline uint32_t RateOfCode(tcflag_t code) {
    for (const CStandardRate& rate : STANDARD_RATES)
        if (rate.code == code) return rate.baud;
    return 0;
}

// The plain termios speed code of a rate; 0 when there is none.
inline tcflag_t CodeOfRate(uint32_t baud) {
    for (const CStandardRate& rate : STANDARD_RATES)
        if (rate.baud == baud) return rate.code;
    return 0;
}

// The line's settings; with plain termios the speeds are decoded from the speed codes. False when fd is not a
// terminal.
inline bool ReadTermios2(int fd, struct termios2* tio) {
    if (ioctl(fd, TCGETS2, tio) == 0) return true;
    struct termios plain {};
    if (ioctl(fd, TCGETS, &plain) != 0) return false;
    *tio = {};
    std::memcpy(tio, &plain, sizeof plain);  // termios2 is termios with the two speeds appended
    tio->c_ospeed = RateOfCode(plain.c_cflag & CBAUD);
    const tcflag_t inputCode = (plain.c_cflag >> IBSHIFT) & CBAUD;
    tio->c_ispeed = inputCode != 0 ? RateOfCode(inputCode) : tio->c_ospeed;
    return true;
}

// Applies the settings; with plain termios the output speed must be a standard rate that the layer below
// then keeps, or the line is put back as it was and false returned.
inline bool WriteTermios2(int fd, const struct termios2& tio) {
    if (ioctl(fd, TCSETS2, &tio) == 0) return true;
    struct termios before {};
    if (ioctl(fd, TCGETS, &before) != 0) return false;
    const tcflag_t code = CodeOfRate(tio.c_ospeed);
    if (code == 0) {
        errno = EINVAL;
        return false;
    }
    struct termios plain {};
    std::memcpy(&plain, &tio, sizeof plain);
    plain.c_cflag = (plain.c_cflag & ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT))) | code;
    if (ioctl(fd, TCSETS, &plain) != 0) return false;
    struct termios after {};
    if (ioctl(fd, TCGETS, &after) == 0 && (after.c_cflag & CBAUD) == code) return true;
    ioctl(fd, TCSETS, &before);
    errno = EINVAL;
    return false;
}

}  // namespace KernelTermios
