// The simulator's line faults by name, as its --fault option knows them, for tests that put each in the way.
#pragma once

#include <vector>

#include "sim/SimFaults.h"

// Every fault that leaves the line up: all but the hang-up, which ends the test's port with it.
inline std::vector<sim::CSimFaultName> AnsweringFaults() {
    std::vector<sim::CSimFaultName> faults;
    for (const sim::CSimFaultName& fault : sim::kFaultNames)
        if (fault.kind != sim::ESimFaultKind::HangUp) faults.push_back(fault);
    return faults;
}
