// The client's commands over one CServoUsb, and the whole client run (options, port, command).
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "cli/CliContext.h"

// Runs c.options.command on an open link; returns an EExitCode. Commands that change the servo's rate switch
// the port through c.port.
int RunCommand(const CCliContext& c);

// The whole client: parses args (without the program name), finds and opens the port, runs the command.
int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
