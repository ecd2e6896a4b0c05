// brennix scan (one rate, or --all-rates / --rates) and brennix find: who is on the bus, and at what rate.
#pragma once

#include <iosfwd>

#include "cli/CliOptions.h"

class CServoUsb;

// scan [--all-rates] [--rates R1,R2,...] [FROM [TO]] and find [--rates ...] on an open link; an EExitCode.
// Nothing found is EXIT_NO_REPLY: a silent bus must not look like success.
int RunScanCommand(CServoUsb& servo, const CCliOptions& options, std::ostream& out, std::ostream& err);
