// brennix scan (one rate, or --all-rates / --rates) and brennix find: who is on the bus, and at what rate.
#pragma once

#include "cli/CliContext.h"

// scan [--all-rates] [--rates R1,R2,...] [FROM [TO]] and find [--rates ...] on an open link; an EExitCode.
// Nothing found is EXIT_NO_REPLY: a silent bus must not look like success.
int RunScanCommand(const CCliContext& c);
