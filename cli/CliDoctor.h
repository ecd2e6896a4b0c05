// brennix doctor [--move] [--markdown]: the host's, the bus's and each servo's checks in one report.
//
// Thread rules: the calling thread runs the whole report; it takes the bus one exchange at a time.
#pragma once

#include <iosfwd>
#include <string>

#include "cli/CliContext.h"
#include "cli/CliOptions.h"

// On an open link: the host's checks for c.port.path (held by this process), then the bus and every servo.
// Prints the report on `out`; EXIT_OK when nothing failed, EXIT_NO_REPLY when something did.
int RunDoctor(const CCliContext& c);

// When the port could not be found or opened: the host's checks alone, which say why. Always EXIT_NO_REPLY
// (something failed); EXIT_BAD_ARGUMENTS for options it does not know.
int RunDoctorWithoutPort(const CCliOptions& options, const std::string& portPath, std::ostream& out,
                         std::ostream& err);
