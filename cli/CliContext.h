// What every command of the client runs with: the bus, the port, the line's rate and wait, the command line
// and the two output streams.
//
// Thread rules: made by the client run on its thread and handed down by reference; commands use it on the
// thread that called them.
#pragma once

#include <iosfwd>

#include "cli/CliOptions.h"
#include "cli/CliPort.h"

class CServoUsb;

struct CCliContext {
    CServoUsb& servo;
    const CCliPort& port;
    const CCliOptions& options;  // the whole command line, with the command's arguments
    std::ostream& out;
    std::ostream& err;
    int baud = options.baud;            // the port's present rate
    int timeoutMs = options.timeoutMs;  // the wait for each answer, for the words of a failure

    // The same run with the port at another rate (a servo found or moved elsewhere).
    CCliContext AtRate(int otherBaud) const {
        CCliContext moved = *this;
        moved.baud = otherBaud;
        return moved;
    }
};
