// --simulate in builds without the simulator: refused with a pointer to the one that works.
#include "app/SimulatedBus.h"

std::unique_ptr<CSimulatedBus> StartSimulatedBus(std::vector<uint8_t>, std::string* error) {
    *error = "no simulator in this build; run brennix-sim on a Linux machine and open its port";
    return nullptr;
}
