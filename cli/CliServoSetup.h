// brennix set-id, set-rate, save and load: one servo's stored parameters from a script, each change made
// as the programming page's WRITE with unlock makes it, and verified at the servo's new ID and rate.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>

#include "CliPort.h"

class CServoUsb;

// Every command addresses servo `id` at the port's present rate, lineBaud. None reports success unless the
// servo answered at its new ID and rate with the values written and locked again; a failure says which
// step failed and what state the servo may be left in. Refusals (EXIT_BAD_ARGUMENTS) write nothing.
// Main thread only: the exchanges run one at a time on the parameter sequence worker, which is joined
// before each returns.

// Refuses when newId already answers: two servos with one ID garble each other's replies.
int RunSetId(CServoUsb& servo, const CCliPort& port, int lineBaud, uint8_t id, uint8_t newId,
             std::ostream& out, std::ostream& err);
// Refuses a rate that is not one of the servos' eight, and a servo with the same ID already at that rate.
int RunSetRate(CServoUsb& servo, const CCliPort& port, int lineBaud, uint8_t id, long rate, std::ostream& out,
               std::ostream& err);
// The same 31 bytes the programming page's SAVE writes after a READ.
int RunSaveParameters(CServoUsb& servo, uint8_t id, const std::string& path, std::ostream& out,
                      std::ostream& err);
// Writes bytes 5 to 30 of the file; the servo keeps its ID unless withId. Files that are short, not
// regular files, or hold a baud code or ID no servo can have are refused without touching the bus.
int RunLoadParameters(CServoUsb& servo, const CCliPort& port, int lineBaud, uint8_t id,
                      const std::string& path, bool withId, std::ostream& out, std::ostream& err);
