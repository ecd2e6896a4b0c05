// The simulator's command line: which servos, the line, the faults and the device, or why not.
//
// Thread rules: plain functions of their arguments; any thread.
#pragma once

#include <string>
#include <vector>

#include "sim/BusSimulator.h"
#include "sim/ServoSpec.h"
#include "sim/SimFaults.h"

namespace sim {

// What the simulator serves.
struct CSimOptions {
    // Every servo: the --ids ones (or 1, 2 and 3 when neither --ids nor --servo is given), then each --servo.
    std::vector<CSimServoSpec> servos;
    CSimLineOptions line;
    std::vector<CSimFaultRule> faults;
    std::string devicePath;  // empty for a new pseudo-terminal
};

// What the command line asks for. Help and Refuse end the program: Help with `text` on standard output and
// exit code 0, Refuse with `text` on standard error and exit code 2.
struct CSimCommand {
    enum class EAction { Serve, Help, Refuse };
    EAction action = EAction::Serve;
    CSimOptions options;
    std::string text;
};

// The arguments after the program name, read in order: the first --help or the first mistake decides.
CSimCommand ParseSimArguments(const std::vector<std::string>& args);

// The help text, as --help prints it.
const char* SimUsage();

}  // namespace sim
