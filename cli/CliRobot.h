// brennix record, play and torque: teaching a motion by hand, playing it back, and torque on several servos.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "cli/CliContext.h"

// brennix record IDS [--period MS] [--seconds S] --out FILE: checks that every servo answers and that the
// file can be made, puts torque off on each (and says so: the joints must be supported), then appends one row
// of present positions per tick to FILE until S seconds or Ctrl+C. Torque stays off afterwards. It reads its
// arguments, IDS first, from c.options. Returns an EExitCode.
int RunRecord(const CCliContext& c);

// brennix play FILE [--speed X] [--loop N]: the recording checked whole (a fault names its row and column,
// exit 2), then PlayMotion; Ctrl+C holds the servos where they are.
int RunPlay(const CCliContext& c);

// brennix torque IDS on|off, or torque all off (one broadcast at the port's rate); torque all on is refused.
// With IDs, "on" first makes each servo's goal its present position; each servo's TORQUE_ENABLE read back is
// printed ("1 on", "2 off", "3 no answer").
int RunTorque(const CCliContext& c);

// "1,2,3" for a command; on a fault prints it and returns false.
bool ParseCliIds(const std::string& text, std::vector<uint8_t>* ids, std::ostream& err);
