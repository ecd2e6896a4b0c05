// Why a path cannot serve as the servo port, in the operator's words.
//
// Thread rules: any thread; it keeps nothing open.
#pragma once

#include <string>

// Empty when the path names a terminal that could be opened; otherwise one phrase such as
// "/dev/null is not a serial port", "/tmp is a directory, not a serial port" or "no such port: /dev/ttyX".
// Opens nothing but character devices, and those only without becoming their controlling terminal.
std::string PortProblem(const std::string& path);
