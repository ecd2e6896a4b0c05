// The fixture of client tests over a simulated bus: the bus runs at 1000000 baud from SetUp on, and the
// client opens it by its path as it would an adapter.
//
// Thread rules: the test's own thread makes, starts and stops the bus; a test may run the client on a
// helper thread meanwhile (the simulator may be used from any thread).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "sim/BusSimulator.h"
#include "tests/support/CliRun.h"
#include "tests/support/LineRateProbe.h"

template <class TestBase = ::testing::Test>
class CCliBusTest : public TestBase {
protected:
    // Servos with these IDs and factory defaults.
    explicit CCliBusTest(std::vector<uint8_t> ids) : m_bus(std::move(ids)) {}
    // Servos set up one by one.
    explicit CCliBusTest(const std::vector<sim::CSimServoSpec>& servos)
        : m_bus(servos, sim::CSimLineOptions{}) {}

    void SetUp() override {
        SKIP_UNLESS_LINE_RATE(1000000);
        ASSERT_TRUE(m_bus.Start());
    }

    // The client on the bus, with `options` (such as --timeout 200) before the arguments.
    CCliRun RunOnBus(std::vector<std::string> args, const std::vector<std::string>& options = {}) {
        return RunClientOn(m_bus.SlavePath(), std::move(args), options);
    }

    sim::CBusSimulator m_bus;
};
