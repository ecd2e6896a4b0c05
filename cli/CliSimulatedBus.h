// The simulated servo bus behind --simulate. The simulator serves a POSIX pseudo-terminal, so builds for
// Windows carry a stand-in that refuses the option instead (CMake picks the file).
//
// Thread rules: the client's thread starts and destroys the bus; the servos answer on a thread of their own.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

// Simulated servos running on their own thread until this object goes.
class CCliSimulatedBus {
public:
    virtual ~CCliSimulatedBus() = default;
    // The port the client opens to reach the servos.
    virtual std::string PortPath() const = 0;
};

// Servos with IDs 1 to servos answering at the rate of baudCode; null with the reason in *error when the
// bus cannot be had.
std::unique_ptr<CCliSimulatedBus> StartSimulatedBus(int servos, uint8_t baudCode, std::string* error);
