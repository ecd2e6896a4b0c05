// brennix assign: IDs handed out one servo at a time, as servos delivered with one factory ID are plugged in.
#pragma once

#include "cli/CliContext.h"

// assign FIRST [--from ID] [--rate RATE] [--count N] on an open port at c.baud (the arguments from
// c.options). Each servo that answers at --from (default 1, the factory ID), at any rate, gets the lowest ID
// from FIRST on that nothing answers at (and RATE when given), as set-id gives it: locked and verified. The
// bus is surveyed once at every rate (after the servo already waiting, if any): servos at other IDs are
// listed and left alone. It prints "ID 1 at 1000000 → ID 10", then "plug in the next servo", and looks again.
// A servo whose ID several answer to is refused with a message until one is left. Ends with EXIT_OK after N
// servos, or at Ctrl+C once the servo in progress is finished and verified; a servo that cannot be given its
// ID ends it with that failure. Bad arguments (FIRST or --from outside 0 to 253, a RATE that is no servo
// rate, N below 1, FIRST + N past 253) are EXIT_BAD_ARGUMENTS with one line. Main thread.
int RunAssign(const CCliContext& c);
