// The client on --port rfc2217://HOST:PORT: the same commands and exit codes as on a local port, and one
// line naming the cause for each way a network port fails.
#include <gtest/gtest.h>

#include <sstream>

#include "cli/CliCommands.h"
#include "cli/CliOptions.h"
#include "sim/BusSimulator.h"
#include "tests/support/CliRun.h"
#include "tests/support/FakeComPortServer.h"

namespace {}  // namespace

// At rates QEMU's user mode carries too, so the arm64 suite runs it.
TEST(CliNetwork, CommandsAndTheAllRateScanRunThroughTheServer) {
    // Servo 1 at 115200 (rate code 4), servo 9 at 38400 (code 7).
    sim::CBusSimulator bus({sim::DefaultServo(1, 4), sim::DefaultServo(9, 7)}, sim::CSimLineOptions{});
    ASSERT_TRUE(bus.Start()) << bus.StartError();
    CFakeComPortServer server;
    ASSERT_TRUE(server.BridgeTo(bus.SlavePath()));
    server.Start();
    const std::string port = server.PortName();

    CCliRun run = RunClient({"--port", port, "--baud", "115200", "ping", "1"});
    EXPECT_EQ(run.code, EXIT_OK) << run.err;
    EXPECT_EQ(run.out, "1\n");
    run = RunClient({"--port", port, "--baud", "115200", "write", "1", "31", "01"});
    EXPECT_EQ(run.code, EXIT_OK) << run.err;
    run = RunClient({"--port", port, "--baud", "115200", "read", "1", "31", "1"});
    EXPECT_EQ(run.code, EXIT_OK) << run.err;
    EXPECT_EQ(run.out, "01\n");
    // Every rate change travels as SET-BAUDRATE; the port is left at --baud.
    run = RunClient({"--port", port, "--baud", "115200", "scan", "--all-rates", "--rates",
                     "115200,57600,38400", "0", "12"});
    EXPECT_EQ(run.code, EXIT_OK) << run.err;
    EXPECT_EQ(run.out, "1 115200\n9 38400\n");
    EXPECT_EQ(server.m_nRate.load(), 115200u);
    server.Stop();
}

TEST(CliNetwork, EachFailureHasItsLineAndExitCode) {
    CFakeComPortServer refusing;  // 128000 is answered with 115200
    refusing.SetRateAnswer([](uint32_t asked) { return asked == 128000 ? 115200u : asked; });
    refusing.Start();
    CCliRun run = RunClient({"--port", refusing.PortName(), "--baud", "128000", "ping", "1"});
    EXPECT_EQ(run.code, EXIT_RATE_REFUSED);
    EXPECT_EQ(run.err, "brennix: " + refusing.PortName() + " refuses 128000 baud\n");
    refusing.Stop();

    CFakeComPortServer busy;
    busy.m_szRefusal = "Port already in use\r\n";
    busy.Start();
    run = RunClient({"--port", busy.PortName(), "ping", "1"});
    EXPECT_EQ(run.code, EXIT_PORT_UNAVAILABLE);
    EXPECT_NE(run.err.find(busy.PortName() + " is busy"), std::string::npos) << run.err;
    busy.Stop();

    CFakeComPortServer plain;
    plain.m_bNegotiate = false;
    plain.Start();
    run = RunClient({"--port", plain.PortName(), "ping", "1"});
    EXPECT_EQ(run.code, EXIT_PORT_UNAVAILABLE);
    EXPECT_EQ(run.err, "brennix: 127.0.0.1:" + std::to_string(plain.Port()) + " does not speak RFC 2217\n");
    plain.Stop();

    const struct {
        const char* port;
        const char* words;
    } names[] = {
        {"rfc2217://", "brennix: no host in rfc2217://"},
        {"rfc2217://robot:70000", "brennix: TCP port 70000 out of range"},
        {"rfc2217://no-such-host.invalid:4000", "brennix: cannot find host no-such-host.invalid"},
    };
    for (const auto& name : names) {
        run = RunClient({"--port", name.port, "ping", "1"});
        EXPECT_EQ(run.code, EXIT_NO_ADAPTER) << name.port;
        EXPECT_EQ(run.err.rfind(name.words, 0), 0u) << run.err;
        EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << "one line: " << run.err;
    }
}

// A server gone mid-command is a lost port (exit 4), named with what happened.
TEST(CliNetwork, AServerThatHangsUpMidScanEndsItAsALostPort) {
    CFakeComPortServer server;
    server.SetDataHandler([](const std::vector<uint8_t>&) { return std::vector<uint8_t>{}; });
    server.Start();
    std::thread hangUp([&server] {
        while (server.m_nPurges.load() < 20) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        server.m_bHangUp = true;
    });
    const CCliRun run = RunClient({"--port", server.PortName(), "--timeout", "20", "scan"});
    hangUp.join();
    EXPECT_EQ(run.code, EXIT_PORT_UNAVAILABLE);
    EXPECT_NE(run.err.find("lost " + server.PortName() + ": 127.0.0.1:" + std::to_string(server.Port()) +
                           " closed the connection"),
              std::string::npos)
        << run.err;
    server.Stop();
}
