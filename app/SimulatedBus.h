// The servos behind --simulate: the simulator on a pseudo-terminal where the build has one. Builds without it
// (Windows, where there are no pseudo-terminals) carry a stand-in that refuses; CMake picks the file.
//
// Thread rules: the GUI thread starts and destroys the bus; the servos answer on the simulator's own thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace sim {
class CBusSimulator;
}

class CSimulatedBus {
public:
    virtual ~CSimulatedBus() = default;
    // The port the tool opens to reach the servos.
    virtual const std::string& PortPath() const = 0;
    // The simulator itself, for the demo tour and for tests that reach into the servos.
    virtual sim::CBusSimulator& Simulator() = 0;
};

// Servos with the IDs answering at 1000000 bit/s, running until the object goes; null with the reason in
// *error when there can be none.
std::unique_ptr<CSimulatedBus> StartSimulatedBus(std::vector<uint8_t> ids, std::string* error);
