// brennix scan --all-rates, --rates, find, and the exit code of a scan that finds nothing, against a
// simulated bus with servos at several rates.
#include <gtest/gtest.h>

#include <chrono>
#include <set>
#include <sstream>
#include <thread>

#include "cli/CliCommands.h"
#include "cli/CliOptions.h"
#include "link/ControlTable.h"
#include "sim/BusSimulator.h"
#include "tests/support/CliRun.h"
#include "tests/support/LineRateProbe.h"

namespace {

sim::CSimServoSpec Servo(uint8_t id, uint32_t baud, uint8_t delay = 0) {
    sim::CSimServoSpec spec = sim::DefaultServo(id, static_cast<uint8_t>(BaudCodeOf(baud)));
    spec.returnDelay = delay;
    return spec;
}

class CliScanTest : public ::testing::Test {
protected:
    void SetUp() override { SKIP_UNLESS_LINE_RATE(1000000); }
    void Start(const std::vector<sim::CSimServoSpec>& servos) {
        m_bus = std::make_unique<sim::CBusSimulator>(servos, sim::CSimLineOptions{});
        ASSERT_TRUE(m_bus->Start());
    }
    CCliRun Run(std::vector<std::string> args) { return RunClientOn(m_bus->SlavePath(), std::move(args)); }
    // The rates at which anything was sent.
    std::set<uint32_t> RatesHeard() const {
        std::set<uint32_t> rates;
        for (const auto& frame : m_bus->Frames()) rates.insert(frame.baud);
        return rates;
    }

    std::unique_ptr<sim::CBusSimulator> m_bus;
};

TEST_F(CliScanTest, AllRatesPrintsIdAndRateOfEveryServoInScanOrder) {
    Start({Servo(9, 38400), Servo(4, 115200, 254), Servo(1, 1000000), Servo(2, 1000000)});
    CCliRun run = Run({"scan", "--all-rates"});
    EXPECT_EQ(run.code, EXIT_OK) << run.err;
    EXPECT_EQ(run.out, "1 1000000\n2 1000000\n4 115200\n9 38400\n");
    EXPECT_EQ(run.err, "");  // no progress where stderr is not a terminal

    // A range and a subset of rates: nothing is sent at the others.
    m_bus->ClearFrames();
    run = Run({"scan", "--rates", "115200,38400", "3", "9"});
    EXPECT_EQ(run.code, EXIT_OK) << run.err;
    EXPECT_EQ(run.out, "4 115200\n9 38400\n");
    EXPECT_EQ(RatesHeard(), (std::set<uint32_t>{115200, 38400}));
}

TEST_F(CliScanTest, NothingFoundExitsOneForEveryKindOfScan) {
    Start({Servo(5, 57600)});
    for (const auto& args :
         {std::vector<std::string>{"scan", "0", "9"}, std::vector<std::string>{"scan", "--all-rates", "6"},
          std::vector<std::string>{"find", "--rates", "1000000"}}) {
        const CCliRun run = Run(args);
        EXPECT_EQ(run.code, EXIT_NO_REPLY) << args.back();
        EXPECT_EQ(run.out, "");
        EXPECT_NE(run.err.find("no servo answered"), std::string::npos) << run.err;
    }
}

TEST_F(CliScanTest, FindNamesTheOnlyServoAndWarnsWhenThereAreMore) {
    Start({Servo(42, 76800, 254)});
    CCliRun run = Run({"find"});
    EXPECT_EQ(run.code, EXIT_OK) << run.err;
    EXPECT_EQ(run.out, "42 76800\n");
    EXPECT_EQ(m_bus->Frames().size(), 9u) << "a broadcast per rate and the read that confirms ID 42";

    m_bus->AddServo(Servo(3, 500000));
    run = Run({"find"});
    EXPECT_EQ(run.code, EXIT_OK);
    EXPECT_EQ(run.out, "3 500000\n42 76800\n");
    EXPECT_NE(run.err.find("more than one servo"), std::string::npos);
}

TEST_F(CliScanTest, AnAdapterPulledOutMidScanEndsItWithTheLostPortCode) {
    Start({Servo(1, 1000000), Servo(2, 38400)});
    std::thread unplug([this] {
        while (m_bus->Frames().size() < 40) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        m_bus->Unplug();
    });
    const auto start = std::chrono::steady_clock::now();
    const CCliRun run = Run({"scan", "--all-rates"});
    unplug.join();
    EXPECT_EQ(run.code, EXIT_PORT_UNAVAILABLE);
    EXPECT_NE(run.err.find("went away"), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "1 1000000\n");
    // Well before the scan of the other rates would have ended.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

// Two servos with one ID answer a ping identically; below 1000000 baud those answers overlap cleanly. Their
// status spans differ (position, voltage or temperature), so the read that confirms each ID collides: the
// ID is printed once, today's way, with a note on stderr, and the exit code stays 0.
TEST_F(CliScanTest, EveryScanTellsServosSharingAnIdAtEveryRate) {
    for (const uint32_t baud : {1000000u, 500000u, 57600u, 38400u}) {
        SCOPED_TRACE(baud);
        sim::CSimServoSpec warmer = Servo(4, baud);
        warmer.temperature = 36;
        Start({Servo(4, baud), warmer, Servo(6, baud)});
        const std::string rate = std::to_string(baud);
        const std::string note = "brennix: warning: ID 4 at " + rate + ": two or more servos answer\n";
        CCliRun run = Run({"--baud", rate, "scan", "0", "7"});
        EXPECT_EQ(run.code, EXIT_OK) << run.err;
        EXPECT_EQ(run.out, "4\n6\n");
        EXPECT_EQ(run.err, note);
        run = Run({"scan", "--rates", rate, "0", "7"});
        EXPECT_EQ(run.code, EXIT_OK) << run.err;
        EXPECT_EQ(run.out, "4 " + rate + "\n6 " + rate + "\n");
        EXPECT_EQ(run.err, note);

        sim::CSimServoSpec lower = Servo(4, baud);
        lower.voltage = 70;
        Start({Servo(4, baud), lower});
        run = Run({"find", "--rates", rate});
        EXPECT_EQ(run.code, baud == 1000000 ? EXIT_NO_REPLY : EXIT_OK) << run.err;
        if (baud != 1000000) {
            // The broadcast's answers overlap cleanly: the confirming read tells.
            EXPECT_EQ(run.out, "4 " + rate + "\n");
            EXPECT_NE(run.err.find(note), std::string::npos) << run.err;
        } else {
            EXPECT_NE(run.err.find("more than one servo answers at 1000000 baud"), std::string::npos)
                << run.err;
        }
    }
}

// The all-rate scan and find warn of alarms per servo, with the values behind them, as the plain scan does.
TEST_F(CliScanTest, AllRateScanAndFindWarnOfAlarmsWithTheirValues) {
    sim::CSimServoSpec low = Servo(3, 57600);
    low.voltage = 30;
    Start({low, Servo(5, 115200)});
    const std::string warning =
        "brennix: warning: ID 3 at 57600 reports under-voltage (voltage 3.0 V outside 5.0\u201325.0 V)\n";
    CCliRun run = Run({"scan", "--all-rates", "0", "9"});
    EXPECT_EQ(run.code, EXIT_OK) << run.err;
    EXPECT_EQ(run.out, "5 115200\n3 57600\n");
    EXPECT_EQ(run.err, warning);
    run = Run({"find", "--rates", "57600"});
    EXPECT_EQ(run.out, "3 57600\n");
    EXPECT_EQ(run.err, warning);
}

// --trace shows every frame of the all-rate scan, and a line where the line rate changes.
TEST_F(CliScanTest, AnAllRateScanShowsEveryFrameAndEachRateInTheTrace) {
    Start({Servo(2, 500000), Servo(9, 38400)});
    const CCliRun run = Run({"--trace", "scan", "--rates", "1000000,500000,38400", "0", "3"});
    EXPECT_EQ(run.code, EXIT_OK) << run.err;
    EXPECT_EQ(run.out, "2 500000\n");
    std::istringstream lines(run.err);
    std::vector<std::string> rates;
    int sent = 0;
    for (std::string line; std::getline(lines, line);) {
        if (const auto at = line.find(" -- line rate "); at != std::string::npos)
            rates.push_back(line.substr(at + 14));
        sent += line.find(" > FF FF ") != std::string::npos;
    }
    // 1000000 first, as the port is already.
    EXPECT_EQ(rates, (std::vector<std::string>{"500000 baud", "38400 baud"}));
    EXPECT_EQ(static_cast<std::size_t>(sent), m_bus->Frames().size())
        << "every frame the servos heard is traced";
    EXPECT_NE(run.err.find("> FF FF FE 02 01 FE  ping all"), std::string::npos);
    EXPECT_NE(run.err.find("status of 2: ok"), std::string::npos);
}

// Behind an adapter that takes 15 or 20 ms each way the all-rate scan still finds every servo at its rate.
TEST_F(CliScanTest, ASlowAdapterStillHasEveryServoFound) {
    for (const int latency : {15000, 20000}) {
        SCOPED_TRACE(latency);
        sim::CSimLineOptions line;
        line.latency = std::chrono::microseconds(latency);
        m_bus = std::make_unique<sim::CBusSimulator>(
            std::vector<sim::CSimServoSpec>{Servo(1, 57600), Servo(2, 38400)}, line);
        ASSERT_TRUE(m_bus->Start());
        const CCliRun run = Run({"scan", "--all-rates", "0", "3"});
        EXPECT_EQ(run.code, EXIT_OK) << run.err;
        EXPECT_EQ(run.out, "1 57600\n2 38400\n");
    }
}

TEST_F(CliScanTest, MalformedScanArgumentsAreRefused) {
    Start({Servo(1, 1000000)});
    for (const auto& args :
         {std::vector<std::string>{"scan", "--rates", "9600"},
          std::vector<std::string>{"scan", "--rates", "115200,"}, std::vector<std::string>{"scan", "--rates"},
          std::vector<std::string>{"scan", "--all-rates", "9", "3"},
          std::vector<std::string>{"scan", "1", "2", "3"}, std::vector<std::string>{"find", "7"}}) {
        const CCliRun run = Run(args);
        EXPECT_EQ(run.code, EXIT_BAD_ARGUMENTS) << args.back();
        EXPECT_EQ(run.out, "");
    }
    EXPECT_TRUE(m_bus->Frames().empty());
}

}  // namespace
