// The network transport against a small RFC 2217 server: the simulator behind it as ser2net would serve
// it, and the server's ways of failing (no negotiation, a refused rate, a busy port, silence, a hang-up).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "link/Rfc2217Usb.h"
#include "link/ServoUsb.h"
#include "sim/BusSimulator.h"
#include "tests/support/FakeComPortServer.h"

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

namespace {

long ElapsedMs(Clock::time_point since) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

// A server that answers each frame with a fixed reply, for exchanges without a simulator.
class NetworkTransport : public ::testing::Test {
protected:
    // The server's thread reads m_reply: it stops before the members go.
    void TearDown() override {
        m_usb.Close();
        m_server.Stop();
    }
    void StartServer() {
        m_server.SetDataHandler([this](const Bytes&) { return m_reply; });
        m_server.Start();
    }
    ::testing::AssertionResult OpenTransport() {
        if (m_usb.FindDevice() != 1) return ::testing::AssertionFailure() << m_usb.OpenProblem();
        if (m_usb.Open() != 1) return ::testing::AssertionFailure() << m_usb.OpenProblem();
        return ::testing::AssertionSuccess();
    }

    CFakeComPortServer m_server;
    Bytes m_reply;
    CRfc2217Usb m_usb{m_server.PortName()};
};

}  // namespace

// ping and read through the server, with the rates it sets on the simulator's line, as through ser2net; at
// rates QEMU's user mode carries too, so the arm64 suite runs it.
TEST(NetworkTransportE2E, TheSimulatorAnswersThroughTheServerAtEachRate) {
    // Servo 1 at 115200 (rate code 4), servo 7 at 38400 (code 7).
    sim::CBusSimulator bus({sim::DefaultServo(1, 4), sim::DefaultServo(7, 7)}, sim::CSimLineOptions{});
    ASSERT_TRUE(bus.Start()) << bus.StartError();
    CFakeComPortServer server;
    ASSERT_TRUE(server.BridgeTo(bus.SlavePath()));
    server.Start();
    CRfc2217Usb usb(server.PortName());
    ASSERT_EQ(usb.FindDevice(), 1) << usb.OpenProblem();
    ASSERT_EQ(usb.Open(), 1) << usb.OpenProblem();
    EXPECT_EQ(usb.PortName(), server.PortName());
    usb.Configure(115200);
    EXPECT_EQ(usb.LineRate(), 115200);
    CServoUsb servo(&usb);
    uint8_t who = 0;
    EXPECT_EQ(servo.Ping(1, &who), 1);
    EXPECT_EQ(who, 1);
    EXPECT_EQ(servo.Ping(7), 0);  // servo 7 hears nothing at 115200

    EXPECT_EQ(usb.Configure(38400), 115200);  // the rate in effect before
    EXPECT_EQ(usb.LineRate(), 38400);
    EXPECT_EQ(server.m_nRate.load(), 38400u);
    EXPECT_EQ(servo.Ping(7, &who), 1);
    EXPECT_EQ(who, 7);
    uint8_t id = 0;
    EXPECT_EQ(servo.ReadData(7, 5, 1, &id), 1);
    EXPECT_EQ(id, 7);
    usb.Close();
    EXPECT_EQ(usb.LineRate(), 0);
    server.Stop();
}

// IAC (0xFF) both ways: doubled on the wire, single in the data, whatever the frame holds.
TEST_F(NetworkTransport, DataFullOfIacArrivesExactBothWays) {
    m_reply = {0xFF, 0xFF, 0x01, 0x03, 0x00, 0xFF, 0xFC, 0xFF};
    StartServer();
    ASSERT_TRUE(OpenTransport());
    m_usb.Configure(1000000);
    const Bytes request{0xFF, 0xFF, 0x01, 0x04, 0x02, 0xFF, 0x01, 0xF6};
    EXPECT_EQ(m_usb.Write(request.data(), 8), 8);
    Bytes answer(8);
    EXPECT_EQ(m_usb.Read(answer.data(), 8), 8);
    EXPECT_EQ(answer, m_reply);
    // The server may have answered the first piece of the request before the rest came in.
    const auto deadline = Clock::now() + std::chrono::seconds(1);
    while (m_server.ReceivedData().size() < request.size() && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(m_server.ReceivedData(), request);
    EXPECT_GE(m_server.m_nPurges.load(), 2);  // at open, and before the request
}

// Bytes that left the serial port before our purge reach us ahead of its answer: they are not the answer.
TEST_F(NetworkTransport, DataAheadOfThePurgeAnswerIsStale) {
    m_reply = {0xFF, 0xFF, 0x01, 0x02, 0x00, 0xFC};
    StartServer();
    ASSERT_TRUE(OpenTransport());
    m_usb.Configure(1000000);
    m_server.SendStaleBeforeNextPurgeAnswer({0xFF, 0xFF, 0x05, 0x02, 0x00, 0xF8});
    CServoUsb servo(&m_usb);
    uint8_t who = 0;
    EXPECT_EQ(servo.Ping(1, &who), 1);
    EXPECT_EQ(who, 1);
}

// A server that does not answer PURGE-DATA (RFC 2217 leaves it optional) still works: nothing waits on it.
TEST_F(NetworkTransport, AServerThatLeavesPurgesUnansweredStillServes) {
    m_server.m_bAnswerPurges = false;
    m_reply = {0xFF, 0xFF, 0x01, 0x02, 0x00, 0xFC};
    StartServer();
    ASSERT_TRUE(OpenTransport());
    m_usb.Configure(1000000);
    CServoUsb servo(&m_usb);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(servo.Ping(1), 1);
    EXPECT_FALSE(m_usb.IsPortLost());
}

TEST_F(NetworkTransport, ARefusedRateIsTheRateTheServerAnswered) {
    m_server.SetRateAnswer([](uint32_t asked) { return asked == 128000 ? 115200u : asked; });
    StartServer();
    ASSERT_TRUE(OpenTransport());
    m_usb.Configure(1000000);
    EXPECT_EQ(m_usb.LineRate(), 1000000);
    m_usb.Configure(128000);
    EXPECT_EQ(m_usb.LineRate(), 115200);
    EXPECT_FALSE(m_usb.IsPortLost());
}

// Failing opens: each within about one timeout, each with its reason.
TEST_F(NetworkTransport, APlainTcpServiceDoesNotSpeakRfc2217) {
    m_server.m_bNegotiate = false;
    StartServer();
    m_usb.SetTimeoutMs(100);
    ASSERT_EQ(m_usb.FindDevice(), 1);
    const auto start = Clock::now();
    EXPECT_EQ(m_usb.Open(), 0);
    EXPECT_LT(ElapsedMs(start), 1000);
    EXPECT_EQ(m_usb.OpenProblem(),
              "127.0.0.1:" + std::to_string(m_server.Port()) + " does not speak RFC 2217");
    EXPECT_FALSE(m_usb.IsOpen());
}

TEST_F(NetworkTransport, ASecondClientIsToldThePortIsBusy) {
    m_server.m_szRefusal = "\r\nPort already in use\r\n";
    StartServer();
    ASSERT_EQ(m_usb.FindDevice(), 1);
    EXPECT_EQ(m_usb.Open(), 0);
    EXPECT_EQ(m_usb.OpenProblem(),
              m_server.PortName() +
                  " is busy (another client has it open; the server says \"Port already in use\")");
}

TEST(NetworkTransportOpen, NamesHostsAndRefusedConnections) {
    CRfc2217Usb noHost("rfc2217://");
    EXPECT_EQ(noHost.FindDevice(), 0);
    EXPECT_NE(noHost.OpenProblem().find("no host"), std::string::npos);
    CRfc2217Usb unknown("rfc2217://no-such-host.invalid:4000");
    EXPECT_EQ(unknown.FindDevice(), 0);
    EXPECT_NE(unknown.OpenProblem().find("cannot find host no-such-host.invalid"), std::string::npos);

    // A port nobody listens on: take one from the system, then let it go.
    int port = 0;
    {
        CFakeComPortServer closed;
        port = closed.Port();
    }
    CRfc2217Usb refused("rfc2217://127.0.0.1:" + std::to_string(port));
    ASSERT_EQ(refused.FindDevice(), 1);
    EXPECT_EQ(refused.Open(), 0);
    EXPECT_EQ(refused.OpenProblem(),
              "127.0.0.1:" + std::to_string(port) + " refused the connection (nothing serves that port)");
    uint8_t byte = 0;
    EXPECT_EQ(refused.Write(&byte, 1), 0);
    EXPECT_EQ(refused.Read(&byte, 1), 0);
    EXPECT_EQ(refused.Configure(115200), 0);
}

// Lost connections: a hang-up is noticed by the read under way, silence by the answer it never gets; the
// handler runs once either way, and everything after fails at once.
TEST_F(NetworkTransport, AHangUpLosesThePortAtOnce) {
    StartServer();
    ASSERT_TRUE(OpenTransport());
    m_usb.Configure(1000000);
    std::atomic<int> notices{0};
    m_usb.SetPortLostHandler([&notices] { ++notices; });
    m_usb.SetTimeoutMs(2000);
    m_usb.Configure(1000000);
    const Bytes ping{0xFF, 0xFF, 0x01, 0x02, 0x01, 0xFB};
    ASSERT_EQ(m_usb.Write(ping.data(), 6), 6);
    m_server.m_bHangUp = true;
    uint8_t answer[6];
    const auto start = Clock::now();
    EXPECT_EQ(m_usb.Read(answer, 6), 0);
    EXPECT_LT(ElapsedMs(start), 1000);  // well inside the 2000 ms timeout
    EXPECT_TRUE(m_usb.IsPortLost());
    EXPECT_EQ(m_usb.LineRate(), 0);
    EXPECT_EQ(m_usb.Write(ping.data(), 6), 0);
    EXPECT_EQ(notices.load(), 1);
    EXPECT_NE(m_usb.OpenProblem().find("closed the connection"), std::string::npos);
}

TEST_F(NetworkTransport, ASilentServerIsLostWithinTwoTimeouts) {
    StartServer();
    m_usb.SetTimeoutMs(100);
    ASSERT_TRUE(OpenTransport());
    m_usb.Configure(1000000);
    std::atomic<int> notices{0};
    m_usb.SetPortLostHandler([&notices] { ++notices; });
    m_server.m_bMute = true;
    const Bytes ping{0xFF, 0xFF, 0x01, 0x02, 0x01, 0xFB};
    uint8_t answer[6];
    const auto start = Clock::now();
    // Each request's purge goes unanswered; the second exchange finds the first one's answer overdue.
    for (int i = 0; i < 3 && !m_usb.IsPortLost(); ++i) {
        m_usb.Write(ping.data(), 6);
        EXPECT_EQ(m_usb.Read(answer, 6), 0);
    }
    EXPECT_TRUE(m_usb.IsPortLost());
    EXPECT_LT(ElapsedMs(start), 400);
    EXPECT_EQ(notices.load(), 1);
    EXPECT_NE(m_usb.OpenProblem().find("no answer from 127.0.0.1"), std::string::npos);
}

// Reads on their own (a monitor between requests) ask the quiet server for its rate, and lose it when that
// goes unanswered.
TEST_F(NetworkTransport, AQuietServerIsAskedForItsRateAndLostWhenItDoesNotAnswer) {
    StartServer();
    m_usb.SetTimeoutMs(50);
    ASSERT_TRUE(OpenTransport());
    m_usb.Configure(1000000);
    uint8_t answer[6];
    EXPECT_EQ(m_usb.Read(answer, 6), 0);
    EXPECT_EQ(m_usb.Read(answer, 6), 0);  // the server is quiet by now: this read's end asks it
    EXPECT_EQ(m_usb.Read(answer, 6), 0);
    EXPECT_FALSE(m_usb.IsPortLost());  // it answered
    m_server.m_bMute = true;
    for (int i = 0; i < 4 && !m_usb.IsPortLost(); ++i) m_usb.Read(answer, 6);
    EXPECT_TRUE(m_usb.IsPortLost());
}
