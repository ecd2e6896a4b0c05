// --simulate on systems without the simulator: refused with a pointer to the one that works.
#include "cli/CliSimulatedBus.h"

std::unique_ptr<CCliSimulatedBus> StartSimulatedBus(int, uint8_t, std::string* error) {
    *error = "no simulator in this build; run brennix-sim on a Linux machine and use --port";
    return nullptr;
}
