// brennix step and brennix calibrate: a step response with its metrics, and position limits from a hand
// sweep.
//
// Thread rules: each command runs on the calling thread; Ctrl+C is seen through the interrupt flag.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "cli/CliContext.h"

// brennix step ID FROM TO [--period MS] [--seconds S] [--set NAME=VALUE,...] [--keep] [--csv]: prints the
// step's metrics on `out` one per line (with --csv the readings instead, the metrics going to `err`).
// `options` are the arguments after TO. Ctrl+C ends the run with the servo put back. Returns an EExitCode.
int RunStep(const CCliContext& c, uint8_t id, int from, int to, const std::vector<std::string>& options);

// brennix calibrate ID [--seconds S] [--margin N]: torque off, the operator sweeps the joint for S seconds
// (or until Enter on a terminal), then the range seen widened by N becomes the position limits (unlock,
// write, lock, read-back). Prints the limits before and after; torque stays off. Returns an EExitCode.
int RunCalibrate(const CCliContext& c, uint8_t id, const std::vector<std::string>& options);
