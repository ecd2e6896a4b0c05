// Which line rates this machine can run a pseudo-terminal at, for tests that need one. Under QEMU's user mode
// (the arm64 suites) termios2 is missing and only the standard rates up to 460800 survive, and timing is
// too uneven for bounds of a few milliseconds: such tests skip themselves there, saying why.
//
// Thread rules: any thread.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>

// True when a pseudo-terminal here runs at `baud` once asked (probed once per rate). In a file of its own:
// the kernel's termios2 and the C library's <termios.h>, which some tests use, cannot meet.
bool LineRateSettable(uint32_t baud);

// True on a machine whose serial layer is emulated (it cannot run 1000000, the servos' default rate).
inline bool LineIsEmulated() {
    return !LineRateSettable(1000000);
}

// At the top of a test or of a fixture's SetUp.
#define SKIP_UNLESS_LINE_RATE(baud)                                       \
    if (!LineRateSettable(baud))                                          \
    GTEST_SKIP() << "this machine cannot run a serial line at " << (baud) \
                 << " baud (no termios2, as under QEMU's user mode)"
#define SKIP_WHEN_EMULATED(what) \
    if (LineIsEmulated())        \
    GTEST_SKIP() << what << " not under emulation: QEMU's user mode times too unevenly for it"
