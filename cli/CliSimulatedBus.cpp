// --simulate on systems with the simulator: its servos behind a pseudo-terminal of this process.
#include "cli/CliSimulatedBus.h"

#include <vector>

#include "sim/BusSimulator.h"

namespace {

class CPtySimulatedBus : public CCliSimulatedBus {
public:
    CPtySimulatedBus(std::vector<uint8_t> ids, uint8_t baudCode) : m_simulator(std::move(ids), baudCode) {}
    bool Start() { return m_simulator.Start(); }
    std::string PortPath() const override { return m_simulator.SlavePath(); }

private:
    sim::CBusSimulator m_simulator;
};

}  // namespace

std::unique_ptr<CCliSimulatedBus> StartSimulatedBus(int servos, uint8_t baudCode, std::string* error) {
    std::vector<uint8_t> ids;
    for (int id = 1; id <= servos; ++id) ids.push_back(static_cast<uint8_t>(id));
    auto bus = std::make_unique<CPtySimulatedBus>(ids, baudCode);
    if (!bus->Start()) {
        *error = "the simulator could not start";
        return nullptr;
    }
    return bus;
}
