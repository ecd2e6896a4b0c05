// brennix step and brennix calibrate on a simulated bus: what they print, what the servo holds afterwards,
// and how bad input is refused without touching it.
#include <gtest/gtest.h>

#include <sstream>

#include "cli/CliCommands.h"
#include "cli/CliOptions.h"
#include "link/ControlTable.h"
#include "sim/BusSimulator.h"
#include "tests/support/CliBusTest.h"
#include "tests/support/CliRun.h"
#include "tests/support/LineRateProbe.h"

namespace {

class CliTuning : public CCliBusTest<> {
protected:
    CliTuning()
        : CCliBusTest<>(std::vector<sim::CSimServoSpec>{sim::DefaultServo(1),
                                                        *sim::ParseServoSpec("2:hand=200-800/1", nullptr)}) {}

    CCliRun Run(std::vector<std::string> args) { return RunOnBus(std::move(args), {"--timeout", "200"}); }
    int Word(uint8_t id, uint8_t address) {
        const auto table = m_bus.Table(id);
        return table.at(address) << 8 | table.at(address + 1);
    }
    int Writes() {
        int writes = 0;
        for (const auto& frame : m_bus.Frames()) writes += frame.bytes.at(4) == 0x03;
        return writes;
    }
};

TEST_F(CliTuning, StepPrintsItsFiveMetricsOrItsReadings) {
    CCliRun run = Run({"step", "1", "312", "712", "--seconds", "1.5", "--set", "P=60"});
    ASSERT_EQ(run.code, EXIT_OK) << run.err;
    std::istringstream lines(run.out);
    std::string line;
    for (const char* head :
         {"rise time: ", "overshoot: ", "settling time: ", "steady-state error: ", "sample rate: "}) {
        ASSERT_TRUE(std::getline(lines, line));
        EXPECT_EQ(line.rfind(head, 0), 0u) << line;
    }
    EXPECT_NE(run.out.find(" ms\novershoot: 7."), std::string::npos) << run.out;
    EXPECT_NE(run.err.find("with V=20,P=60,D=100"), std::string::npos) << run.err;
    EXPECT_EQ(m_bus.Table(1).at(Reg::P_COEFF), 15) << "restored";

    run = Run({"step", "1", "712", "612", "--seconds", "0.3", "--period", "20", "--csv"});
    ASSERT_EQ(run.code, EXIT_OK) << run.err;
    EXPECT_EQ(run.out.rfind("time_ms,position\n", 0), 0u);
    const auto rows = std::count(run.out.begin(), run.out.end(), '\n') - 1;
    EXPECT_GE(rows, 13);
    EXPECT_LE(rows, 15) << "one reading every 20 ms for 0.3 s";
    EXPECT_NE(run.err.find("rise time: "), std::string::npos) << "the metrics go to stderr then";
}

TEST_F(CliTuning, StepRefusesBadInputWithoutWriting) {
    m_bus.SetRegister(1, Reg::LOCK, 0);
    m_bus.SetRegister(1, Reg::MIN_POSITION_LIMIT + 1, 100);
    m_bus.ClearFrames();
    const std::pair<std::vector<std::string>, const char*> cases[] = {
        {{"step", "1", "50", "700"}, "FROM 50 is outside servo 1's position limits 100..1023"},
        {{"step", "1", "300", "1100"}, "TO 1100 is outside servo 1's position limits 100..1023"},
        {{"step", "1", "300", "700", "--set", "Q=1"}, "'Q' is not a coefficient (V, P, D, I, PUNCH,"},
        {{"step", "1", "300", "700", "--set", "D=300"}, "D=300 is outside 0..255"},
        {{"step", "1", "300", "700", "--set"}, "--set needs NAME=VALUE"},
        {{"step", "1", "300", "700", "--seconds", "0"}, "--seconds needs 0.1 to 60 seconds, not 0"},
        {{"step", "1", "300", "700", "--period", "x"}, "--period needs 1 to 1000 ms, not x"},
        {{"step", "1", "300", "700", "--fast"}, "unknown step option --fast"},
        {{"step", "1", "300"}, "wrong number of arguments for step"},
    };
    for (const auto& [args, why] : cases) {
        const CCliRun run = Run(args);
        EXPECT_EQ(run.code, EXIT_BAD_ARGUMENTS) << why;
        EXPECT_NE(run.err.find(why), std::string::npos) << run.err;
    }
    EXPECT_EQ(Writes(), 0);
}

TEST_F(CliTuning, CalibrateWritesTheRangeTheHandSweptWidenedAndLeavesTorqueOff) {
    const CCliRun run = Run({"calibrate", "2", "--seconds", "1.5"});
    ASSERT_EQ(run.code, EXIT_OK) << run.err;
    EXPECT_EQ(Word(2, Reg::MIN_POSITION_LIMIT), 195);
    EXPECT_EQ(Word(2, Reg::MAX_POSITION_LIMIT), 805);
    EXPECT_EQ(m_bus.Table(2).at(Reg::LOCK), 1);
    EXPECT_EQ(m_bus.Table(2).at(Reg::TORQUE_ENABLE), 0);
    EXPECT_NE(run.out.find("before: MIN_POSITION_LIMIT 0, MAX_POSITION_LIMIT 1023\nseen: 200..800"),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("after: MIN_POSITION_LIMIT 195, MAX_POSITION_LIMIT 805\n"), std::string::npos);
    EXPECT_NE(run.err.find("torque stays off"), std::string::npos);

    EXPECT_EQ(Run({"calibrate", "2", "--seconds", "1.5", "--margin", "0"}).code, EXIT_OK);
    EXPECT_EQ(Word(2, Reg::MIN_POSITION_LIMIT), 200);
}

TEST_F(CliTuning, CalibrateWritesNothingForAJointThatDidNotMoveAndRefusesAWheel) {
    m_bus.ClearFrames();
    CCliRun run = Run({"calibrate", "1", "--seconds", "0.3"});
    EXPECT_EQ(run.code, EXIT_NO_REPLY);
    EXPECT_NE(run.err.find("the joint did not move (positions 512..512); nothing written"), std::string::npos)
        << run.err;
    EXPECT_EQ(Writes(), 1) << "only torque off";
    EXPECT_EQ(Word(1, Reg::MAX_POSITION_LIMIT), 1023);

    m_bus.SetRegister(1, Reg::MAX_POSITION_LIMIT, 0);
    m_bus.SetRegister(1, Reg::MAX_POSITION_LIMIT + 1, 0);
    m_bus.ClearFrames();
    run = Run({"calibrate", "1", "--seconds", "0.3"});
    EXPECT_EQ(run.code, EXIT_BAD_ARGUMENTS);
    EXPECT_NE(run.err.find("wheel mode"), std::string::npos) << run.err;
    EXPECT_EQ(Writes(), 0);
    EXPECT_EQ(Run({"calibrate", "1", "--margin", "101"}).code, EXIT_BAD_ARGUMENTS);
}

}  // namespace
