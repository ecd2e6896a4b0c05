// The client against a faulty line: each command reports the failure with its exit code within one timeout,
// sends nothing the operator did not ask for, and says so when the adapter goes away.
#include <gtest/gtest.h>
#include <unistd.h>
#include <ostream>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "cli/CliCommands.h"
#include "cli/CliOptions.h"
#include "sim/BusSimulator.h"
#include "tests/support/CliBusTest.h"
#include "tests/support/CliRun.h"
#include "tests/support/LineRateProbe.h"
#include "tests/support/SimFaultNames.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using sim::ESimFaultKind;

// The client's default timeout; a run also opens and configures the port, which takes a few milliseconds.
constexpr auto kTimeout = 50ms;
constexpr auto kSlack = 150ms;

struct CCommand {
    const char* name;
    std::vector<std::string> args;  // after --port PATH
    uint8_t instruction;            // of the one request it sends first (after the check, if any)
    int statusBytes;                // of the status that request calls for
    bool checksId;                  // pings the servo and reads its status span first: one servo at the ID?
};

const CCommand kCommands[] = {
    {"ping", {"ping", "1"}, 0x01, 6, false},
    {"read", {"read", "1", "0", "2"}, 0x02, 8, false},
    {"write", {"write", "1", "31", "01"}, 0x03, 6, true},
    {"reset", {"reset", "1"}, 0x06, 6, true},
    {"dump", {"dump", "1"}, 0x02, 8, false},
};

// Each fault rule and the words the client finds for it, given the size of the status it waited for.
struct CFault {
    const char* name;
    ESimFaultKind kind;
    std::string (*message)(int statusBytes);
};

const CFault kFaultWords[] = {
    {"drop", ESimFaultKind::DropReply, [](int) { return std::string("no answer from ID 1 within 50 ms"); }},
    {"checksum", ESimFaultKind::CorruptChecksum,
     [](int) { return std::string("answer from ID 1 failed its checksum"); }},
    {"id", ESimFaultKind::WrongId, [](int) { return std::string("answer from ID 2 while asking ID 1"); }},
    {"length", ESimFaultKind::WrongLength,
     [](int bytes) {
         return "answer from ID 1 has LEN " + std::to_string(bytes - 3) + " where " +
                std::to_string(bytes - 4) + " was expected";
     }},
    {"late", ESimFaultKind::LateReply, [](int) { return std::string("no answer from ID 1 within 50 ms"); }},
    {"garbage", ESimFaultKind::Garbage,
     [](int) { return std::string("garbage instead of an answer from ID 1 (no FF FF header)"); }},
    {"stall", ESimFaultKind::StallMidFrame,
     [](int bytes) {
         return "ID 1 answered " + std::to_string(bytes / 2) + " of " + std::to_string(bytes) + " bytes";
     }},
};

const std::vector<sim::CSimFaultName> kFaults = AnsweringFaults();

class CliFault : public CCliBusTest<::testing::TestWithParam<std::tuple<CFault, CCommand>>> {
protected:
    CliFault() : CCliBusTest(std::vector<uint8_t>{1, 2, 3}) {}

    CCliRun Run(std::vector<std::string> args) { return RunOnBus(std::move(args)); }

    // The stored parameters and the operation registers up to the goal; what the motion model measures is
    // left out.
    std::vector<uint8_t> Settings(uint8_t id) const {
        const auto table = m_bus.Table(id);
        return {table.begin(), table.begin() + 36};
    }

    // The instructions the servos heard, in order.
    std::vector<uint8_t> Heard() const {
        std::vector<uint8_t> instructions;
        for (const auto& frame : m_bus.Frames()) instructions.push_back(frame.bytes.at(4));
        return instructions;
    }
};

// The table of fault rule, outcome and message, end to end: every kind of failure has its own words.
TEST_P(CliFault, NamesTheFailureWithinOneTimeoutAndSendsNothingElse) {
    const auto& [fault, command] = GetParam();
    sim::CSimFaultRule rule;
    rule.kind = fault.kind;
    rule.servoId = 1;
    rule.instruction = command.instruction;
    m_bus.AddFault(rule);
    const auto before = Settings(1);

    const CCliRun run = Run(command.args);
    EXPECT_EQ(run.code, EXIT_NO_REPLY) << run.err;
    EXPECT_TRUE(run.out.empty()) << "nothing printed as if it had come from the servo: " << run.out;
    EXPECT_EQ(run.err, "brennix: " + fault.message(command.statusBytes) + "\n");
    EXPECT_LT(run.took, kTimeout + kSlack);
    // The simulator may still be taking the request in when a loaded machine lets the client time out.
    std::vector<uint8_t> expected{command.instruction};
    if (command.checksId) expected.insert(expected.begin(), {0x01, 0x02});
    ASSERT_TRUE(m_bus.WaitForFrames(expected.size(), 1s));
    EXPECT_FALSE(m_bus.WaitForFrames(expected.size() + 1, 30ms));
    EXPECT_EQ(Heard(), expected) << "one request, no retry, nothing else";
    if (command.instruction == 0x02 || command.instruction == 0x01) {
        EXPECT_EQ(Settings(1), before);
    }
}

// Cases print by name, so the test list stays readable and the same from one build to the next.
void PrintTo(const CFault& c, std::ostream* os) {
    *os << c.name;
}
void PrintTo(const CCommand& c, std::ostream* os) {
    *os << c.name;
}

INSTANTIATE_TEST_SUITE_P(Matrix, CliFault,
                         ::testing::Combine(::testing::ValuesIn(kFaultWords), ::testing::ValuesIn(kCommands)),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) + "_" +
                                    std::get<1>(info.param).name;
                         });

class CliFaultScan : public CliFault {};

// A faulty servo in the middle of a scan is left out; the ones after it are still found, and nobody is
// listed under another's ID.
TEST_F(CliFaultScan, SkipsTheFaultyServoOnly) {
    for (const auto& [name, kind] : kFaults) {
        SCOPED_TRACE(name);
        sim::CSimFaultRule rule;
        rule.kind = kind;
        rule.servoId = 2;
        rule.delay = 150ms;  // a late or stalled status lands in the next ping's wait
        m_bus.AddFault(rule);
        // A longer timeout than the default keeps a loaded machine from losing the healthy servos.
        const CCliRun run = Run({"--timeout", "100", "scan", "1", "4"});
        EXPECT_EQ(run.code, EXIT_OK) << run.err;
        EXPECT_EQ(run.out, "1\n3\n") << run.err;
        EXPECT_LT(run.took, 4 * 100ms + kSlack);
        m_bus.ClearFaults();
        ASSERT_TRUE(m_bus.WaitForQuietLine(2s));
    }
}

TEST_F(CliFaultScan, AnAdapterPulledOutMidCommandIsNamed) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"scan", "0", "253"}, std::vector<std::string>{"read", "1", "0", "4"}}) {
        sim::CSimFaultRule rule;
        rule.kind = ESimFaultKind::HangUp;
        rule.servoId = 1;
        m_bus.AddFault(rule);
        const CCliRun run = Run(args);
        EXPECT_EQ(run.code, EXIT_PORT_UNAVAILABLE) << run.err;
        EXPECT_NE(run.err.find("the adapter went away"), std::string::npos) << run.err;
        EXPECT_EQ(run.err.find("no answer"), std::string::npos) << "silence is not blamed on the servo";
        EXPECT_LT(run.took, 2 * kTimeout + kSlack) << "the rest of the scan fails at once";
        ASSERT_TRUE(m_bus.Start());  // plugged in again, under a new name
    }
}

// A servo in alarm still answers: its data is printed, the alarms are named on stderr, the exit code is 0.
TEST(CliAlarms, AGoodStatusWithAlarmBitsPrintsItsDataAndAWarning) {
    SKIP_UNLESS_LINE_RATE(1000000);
    sim::CSimServoSpec hot = sim::DefaultServo(1);
    hot.temperature = 85;
    hot.voltage = 45;
    sim::CBusSimulator bus({hot, sim::DefaultServo(2)}, {});
    ASSERT_TRUE(bus.Start());
    CCliRun run = RunClient({"--port", bus.SlavePath(), "read", "1", "47", "2"});
    EXPECT_EQ(run.code, EXIT_OK) << run.err;
    EXPECT_EQ(run.out, "2D 55\n");
    // 4.5 V is below the servo's 5.0 V: the bit alone would not say which side.
    const std::string warning =
        "brennix: warning: ID 1 reports under-voltage (voltage 4.5 V outside 5.0\u201325.0 V), over-heat "
        "(temperature 85 \u00b0C above 80 \u00b0C)\n";
    EXPECT_EQ(run.err, warning);
    run = RunClient({"--port", bus.SlavePath(), "scan", "1", "2"});
    EXPECT_EQ(run.code, EXIT_OK);
    EXPECT_EQ(run.out, "1\n2\n");
    EXPECT_EQ(run.err, warning) << "ID 2 is well";
    for (const char* command : {"dump", "ping"}) {
        run = RunClient({"--port", bus.SlavePath(), command, "1"});
        EXPECT_EQ(run.code, EXIT_OK);
        EXPECT_EQ(run.err, warning) << command;
    }
}

// Every servo answers a broadcast ping at once: the client names the collision, not a checksum.
TEST(CliCollisions, ABroadcastPingAnsweredByThreeServos) {
    SKIP_UNLESS_LINE_RATE(1000000);
    sim::CBusSimulator bus({1, 2, 3});
    ASSERT_TRUE(bus.Start());
    const CCliRun run = RunClient({"--port", bus.SlavePath(), "ping", "254"});
    EXPECT_EQ(run.code, EXIT_NO_REPLY);
    EXPECT_EQ(run.err, "brennix: answers from several servos collided (6 damaged bytes)\n");
}

// A flash whose boot loader answers are hit: an upgrade error within the boot loader's timeout, nothing
// stored, and the servo's parameters untouched.
TEST_F(CliFaultScan, FlashUnderBootAnswerFaultsFailsCleanly) {
    const fs::path dir = fs::temp_directory_path() / ("brennix-cli-fault-" + std::to_string(getpid()));
    fs::create_directories(dir);
    const fs::path image = dir / "fw.bin";
    std::ofstream(image, std::ios::binary) << std::string(640, '\x5A');
    const auto before = Settings(1);
    const std::pair<const char*, ESimFaultKind> bootFaults[] = {
        {"drop", ESimFaultKind::DropReply},
        {"corrupt", ESimFaultKind::CorruptChecksum},
        {"garbage", ESimFaultKind::Garbage},
        {"late", ESimFaultKind::LateReply},
    };
    // Longer than the host's pause before the entry code, short enough to get the servo back soon.
    m_bus.SetBootIdleTimeout(300ms);
    for (const auto& [name, kind] : bootFaults) {
        SCOPED_TRACE(name);
        sim::CSimFaultRule rule;
        rule.kind = kind;
        rule.instruction = sim::kBootAnswer;
        rule.skip = 3;  // the entry code, the start byte and the first block are answered
        rule.delay = 600ms;
        m_bus.AddFault(rule);
        const CCliRun run = Run({"flash", "1", image.string()});
        EXPECT_EQ(run.code, EXIT_UPGRADE_ERROR) << run.err;
        EXPECT_NE(run.err.find("upgrade error"), std::string::npos);
        EXPECT_LT(run.took, 500ms + 200ms + kSlack) << "the pause before the transfer, then one timeout";
        EXPECT_TRUE(m_bus.Firmware(1).empty());
        EXPECT_EQ(m_bus.FaultHits(), 1);
        m_bus.ClearFaults();
        ASSERT_TRUE(m_bus.WaitForQuietLine(2s));  // the late byte goes out
        for (int i = 0; i < 100 && m_bus.BootStatus(1).inBootLoader; ++i) std::this_thread::sleep_for(10ms);
    }
    EXPECT_EQ(Run({"ping", "1"}).code, EXIT_OK) << "back from its boot loader once the line rested";
    EXPECT_EQ(Settings(1), before);

    sim::CSimFaultRule hangUp;
    hangUp.kind = ESimFaultKind::HangUp;
    hangUp.instruction = sim::kBootAnswer;
    hangUp.skip = 3;
    m_bus.AddFault(hangUp);
    const CCliRun run = Run({"flash", "1", image.string()});
    EXPECT_EQ(run.code, EXIT_PORT_UNAVAILABLE) << run.err;
    EXPECT_NE(run.err.find("upgrade error"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("went away"), std::string::npos) << run.err;
    EXPECT_TRUE(m_bus.Firmware(1).empty());
    fs::remove_all(dir);
}

// A servo's alarms travel in the error byte of a good status: every command still takes the status.
TEST_F(CliFaultScan, AlarmBitsLeaveTheStatusGood) {
    m_bus.SetRegister(1, 48, 90);  // over-heat
    m_bus.SetRegister(2, 47, 30);  // over-voltage
    for (const CCommand& command : kCommands) {
        if (command.instruction == 0x06) continue;  // a reset would give servo 1 factory limits anyway
        const CCliRun run = Run(command.args);
        EXPECT_EQ(run.code, EXIT_OK) << command.name << ": " << run.err;
    }
    EXPECT_EQ(Run({"read", "2", "47", "1"}).code, EXIT_OK);
}

}  // namespace
