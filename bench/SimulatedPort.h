// The simulated bus a benchmark measures against: the simulator started and its port opened at 1000000 bit/s
// through the real serial transport, as the tool opens an adapter.
#pragma once

#include <cstdio>
#include <cstdlib>

#include "link/BrennixUsb.h"
#include "sim/BusSimulator.h"

// Aborts with the step that failed: a benchmark without its bus measures nothing.
inline void OpenSimulatedPort(sim::CBusSimulator& bus, CBrennixUsb& usb) {
    if (!bus.Start()) {
        std::fprintf(stderr, "simulator: %s\n", bus.StartError().c_str());
        std::abort();
    }
    usb.SetPortPath(bus.SlavePath());
    if (usb.FindDevice() != 1 || usb.Open() != 1) {
        std::fprintf(stderr, "cannot open %s\n", bus.SlavePath().c_str());
        std::abort();
    }
    usb.Configure(1000000);
}
