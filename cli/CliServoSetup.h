// brennix set-id, set-rate, save and load: one servo's stored parameters from a script, each change made
// as the programming page's WRITE with unlock makes it, and verified at the servo's new ID and rate.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "cli/CliContext.h"

// Every command addresses servo `id` at the port's present rate, c.baud. None reports success unless the
// servo answered at its new ID and rate with the values written and locked again. A write that changes the
// ID may be answered from the old or the new ID; one that changes the rate at the old rate, the new one or
// not at all, so the servo is looked for at its new rate before anything is called a failure. A command that
// fails half-way looks for the servo where it may be, locks it there when it answers, and says where it is
// and whether it is locked. Refusals (EXIT_BAD_ARGUMENTS) write nothing: an ID several servos answer to,
// and a new ID or rate where anything at all answers already.
// Main thread only: the exchanges run one at a time on the parameter sequence worker, which is joined
// before each returns.

int RunSetId(const CCliContext& c, uint8_t id, uint8_t newId);
// Refuses a rate that is not one of the servos' eight, and a servo with the same ID already at that rate.
int RunSetRate(const CCliContext& c, uint8_t id, long rate);
// Gives the servo at `id` a new ID and rate, as set-id and set-rate do (newBaud may equal c.baud); prints
// nothing on success. For brennix assign.
int RunMove(const CCliContext& c, uint8_t id, uint8_t newId, int newBaud);
// The same 31 bytes the programming page's SAVE writes after a READ. A file that cannot be written is
// EXIT_OUTPUT_FAILED with the system's reason.
int RunSaveParameters(const CCliContext& c, uint8_t id, const std::string& path);
// load ID FILE [--with-id] [--with-rate] [--dry-run]: writes bytes 5 to 30 of the file; the servo keeps its
// ID unless --with-id, and a file with another rate is refused unless --with-rate. Files that are short, not
// regular files, or hold a value outside a register's range are refused (naming the register) without
// touching the bus. What changes is printed register by register before anything is written; --dry-run
// prints only that.
int RunLoadParameters(const CCliContext& c, uint8_t id, const std::vector<std::string>& args);
