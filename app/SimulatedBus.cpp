// --simulate's servos: the simulator in this process, serving a pseudo-terminal.
#include "app/SimulatedBus.h"

#include "sim/BusSimulator.h"

namespace {

class CPtySimulatedBus final : public CSimulatedBus {
public:
    explicit CPtySimulatedBus(std::vector<uint8_t> ids) : m_simulator(std::move(ids)) {}
    bool Start() { return m_simulator.Start(); }
    const std::string& PortPath() const override { return m_simulator.SlavePath(); }
    sim::CBusSimulator& Simulator() override { return m_simulator; }

private:
    sim::CBusSimulator m_simulator;
};

}  // namespace

std::unique_ptr<CSimulatedBus> StartSimulatedBus(std::vector<uint8_t> ids, std::string* error) {
    auto bus = std::make_unique<CPtySimulatedBus>(std::move(ids));
    if (!bus->Start()) {
        *error = "the simulated servo bus could not start";
        return nullptr;
    }
    return bus;
}
