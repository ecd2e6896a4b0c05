// brennix scan --all-rates, --rates, find, and the exit code of a scan that finds nothing, against a
// simulated bus with servos at several rates.
#include <gtest/gtest.h>

#include <chrono>
#include <sstream>
#include <thread>

#include "BusSimulator.h"
#include "CliCommands.h"
#include "CliOptions.h"
#include "ControlTable.h"
#include "LineRateProbe.h"

namespace {

struct CScanRun {
    int code;
    std::string out;
    std::string err;
};

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
    CScanRun Run(std::vector<std::string> args) {
        args.insert(args.begin(), {"--port", m_bus->SlavePath()});
        std::ostringstream out, err;
        const int code = RunCli(args, out, err);
        return {code, out.str(), err.str()};
    }
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
    CScanRun run = Run({"scan", "--all-rates"});
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
        const CScanRun run = Run(args);
        EXPECT_EQ(run.code, EXIT_NO_REPLY) << args.back();
        EXPECT_EQ(run.out, "");
        EXPECT_NE(run.err.find("no servo answered"), std::string::npos) << run.err;
    }
}

TEST_F(CliScanTest, FindNamesTheOnlyServoAndWarnsWhenThereAreMore) {
    Start({Servo(42, 76800, 254)});
    CScanRun run = Run({"find"});
    EXPECT_EQ(run.code, EXIT_OK) << run.err;
    EXPECT_EQ(run.out, "42 76800\n");
    EXPECT_EQ(m_bus->Frames().size(), 8u);

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
    const CScanRun run = Run({"scan", "--all-rates"});
    unplug.join();
    EXPECT_EQ(run.code, EXIT_PORT_UNAVAILABLE);
    EXPECT_NE(run.err.find("went away"), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "1 1000000\n");
    // Well before the scan of the other rates would have ended.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

TEST_F(CliScanTest, MalformedScanArgumentsAreRefused) {
    Start({Servo(1, 1000000)});
    for (const auto& args :
         {std::vector<std::string>{"scan", "--rates", "9600"},
          std::vector<std::string>{"scan", "--rates", "115200,"}, std::vector<std::string>{"scan", "--rates"},
          std::vector<std::string>{"scan", "--all-rates", "9", "3"},
          std::vector<std::string>{"scan", "1", "2", "3"}, std::vector<std::string>{"find", "7"}}) {
        const CScanRun run = Run(args);
        EXPECT_EQ(run.code, EXIT_BAD_ARGUMENTS) << args.back();
        EXPECT_EQ(run.out, "");
    }
    EXPECT_TRUE(m_bus->Frames().empty());
}

}  // namespace
