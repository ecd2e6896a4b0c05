// brennix monitor: the status poll of the debug page as lines on stdout, for logs and scripts.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cli/CliContext.h"

// brennix monitor ID [--period MS] [--count N] [--csv]: reads the status span of servo `id` every period
// (10 ms unless given) and prints one line per reading, as CSV with a header line or in aligned columns.
// Runs until N ticks have been made or Ctrl+C. Ticks are kept on a fixed grid from the start; one that
// falls behind lets the grid points it missed go and counts them, so lines never come in bursts. The tally
// (ticks, skipped, without reply) goes to err at the end. `options` are the arguments after the ID.
// Returns an EExitCode: EXIT_NO_REPLY when no tick got an answer.
int RunMonitor(const CCliContext& c, uint8_t id, const std::vector<std::string>& options);

// brennix monitor ID,ID,... [--period MS] [--count N] [--csv]: each tick reads each servo once, in the order
// given, and prints one line per servo that answered, with its ID and its alarm bits by name; --count counts
// ticks, so K servos give N x K lines when all answer. The tally counts the reads without reply.
int RunMultiMonitor(const CCliContext& c, const std::vector<uint8_t>& ids,
                    const std::vector<std::string>& options);
