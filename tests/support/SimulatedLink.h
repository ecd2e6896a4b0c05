// A simulated servo bus opened through the real serial transport, with the command object on top.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <utility>
#include <vector>

#include "link/BrennixUsb.h"
#include "link/ServoUsb.h"
#include "sim/BusSimulator.h"

// What the link, page and transfer tests talk to: the simulator serves a pseudo-terminal, the serial
// transport opens it as it would an adapter, and CServoUsb runs the protocol over it. The port is closed
// before the simulator stops, so no test sees a hang-up it did not ask for.
//
// Thread rules: built, opened and destroyed by the test's own thread; the parts it hands out follow their
// own rules (the simulator and CServoUsb may be used from any thread).
class CSimulatedLink {
public:
    // Servos with these IDs at 1000000 bit/s and factory defaults.
    explicit CSimulatedLink(std::vector<uint8_t> ids = {1, 2, 3}) : m_sim(std::move(ids)) {}
    // Servos set up one by one, on a line with these options.
    CSimulatedLink(const std::vector<sim::CSimServoSpec>& servos, const sim::CSimLineOptions& line)
        : m_sim(servos, line) {}
    ~CSimulatedLink() { m_transport.Close(); }
    CSimulatedLink(const CSimulatedLink&) = delete;
    CSimulatedLink& operator=(const CSimulatedLink&) = delete;

    // Starts serving and points the transport at the simulator's port, for code that opens it itself; a
    // timeout above 0 replaces the transport's own. The failure names the step that failed.
    ::testing::AssertionResult Attach(int timeoutMs = 0) {
        if (!m_sim.Start()) return ::testing::AssertionFailure() << "simulator: " << m_sim.StartError();
        m_transport.SetPortPath(m_sim.SlavePath());
        if (m_transport.FindDevice() != 1)
            return ::testing::AssertionFailure() << "no device at " << m_sim.SlavePath();
        if (timeoutMs > 0) m_transport.SetTimeoutMs(timeoutMs);
        return ::testing::AssertionSuccess();
    }
    // Attaches and opens the port at `baud` (the timeout applies from the start).
    ::testing::AssertionResult Open(int baud = 1000000, int timeoutMs = 0) {
        if (::testing::AssertionResult attached = Attach(timeoutMs); !attached) return attached;
        return OpenPort(baud);
    }
    // Opens the attached port at `baud`.
    ::testing::AssertionResult OpenPort(int baud = 1000000) {
        if (m_transport.Open() != 1)
            return ::testing::AssertionFailure() << "cannot open " << m_sim.SlavePath();
        m_transport.Configure(baud);
        return ::testing::AssertionSuccess();
    }
    // Lets another client (the command-line tool, the application) open the port for itself.
    void Close() { m_transport.Close(); }

    // The frames the simulator heard since the last call (or ClearFrames), oldest first.
    std::vector<std::vector<uint8_t>> TakeFrames() {
        std::vector<std::vector<uint8_t>> frames;
        for (const auto& frame : m_sim.Frames()) frames.push_back(frame.bytes);
        m_sim.ClearFrames();
        return frames;
    }

    sim::CBusSimulator& Sim() { return m_sim; }
    CBrennixUsb& Transport() { return m_transport; }
    CServoUsb& Usb() { return m_usb; }

private:
    sim::CBusSimulator m_sim;
    CBrennixUsb m_transport;
    CServoUsb m_usb{&m_transport};
};
