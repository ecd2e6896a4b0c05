// brennix monitor against a simulated servo: its schedule, its lines, and how it ends.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <sstream>
#include <thread>

#include "cli/CliCommands.h"
#include "cli/CliOptions.h"
#include "link/ControlTable.h"
#include "sim/BusSimulator.h"
#include "tests/support/CliBusTest.h"
#include "tests/support/CliRun.h"
#include "tests/support/LineRateProbe.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// The CSV fields of a row as numbers (voltage in tenths).
std::vector<long> Fields(const std::string& row) {
    std::vector<long> fields;
    std::istringstream in(row);
    for (std::string field; std::getline(in, field, ',');) {
        const auto dot = field.find('.');
        fields.push_back(dot == std::string::npos
                             ? std::stol(field)
                             : std::stol(field.substr(0, dot)) * 10 + std::stol(field.substr(dot + 1)));
    }
    return fields;
}

class CliMonitor : public CCliBusTest<> {
protected:
    CliMonitor() : CCliBusTest<>(std::vector<uint8_t>{1, 2}) {}

    CCliRun Monitor(std::vector<std::string> args) {
        args.insert(args.begin(), "monitor");
        return RunOnBus(std::move(args), {"--timeout", m_szTimeoutMs});
    }

    // Torque on and a far goal: the shaft sweeps up at 200 units a second, for more than two seconds.
    void StartMoving(uint8_t id) {
        m_bus.SetRegister(id, Reg::GOAL_SPEED, 0);
        m_bus.SetRegister(id, Reg::GOAL_SPEED + 1, 20);
        m_bus.SetRegister(id, Reg::GOAL_POSITION, 0x03);
        m_bus.SetRegister(id, Reg::GOAL_POSITION + 1, 0xFF);
        m_bus.SetRegister(id, Reg::TORQUE_ENABLE, 1);
    }

    std::string m_szTimeoutMs = "50";
};

}  // namespace

TEST_F(CliMonitor, FiftyTicksAtTenMillisecondsTakeHalfASecondAndFollowTheShaft) {
    StartMoving(1);
    m_szTimeoutMs = "200";  // a slow reply on a loaded machine is a skipped tick, not a lost reading
    const CCliRun run = Monitor({"1", "--count", "50", "--period", "10", "--csv"});
    ASSERT_EQ(run.code, EXIT_OK) << run.err;
    // Grid points a loaded machine let pass were skipped, not caught up with, so they add to the time.
    int ticks = 0, skipped = -1;
    ASSERT_EQ(
        std::sscanf(run.err.c_str(), "brennix: %d ticks, %d skipped, 0 without reply", &ticks, &skipped), 2)
        << run.err;
    EXPECT_EQ(ticks, 50);
    const auto grid = (50 + skipped) * 10ms;
    // The port is opened and configured first, which is not part of the monitor's schedule.
    EXPECT_GE(run.took, grid);
    EXPECT_LT(run.took, grid + 10ms + 15ms) << "within a tick, plus opening the port";
    ASSERT_EQ(run.lines.size(), 51u);
    EXPECT_EQ(run.lines[0], "time_ms,position,speed,load,voltage,temperature,alarms");
    long previousTime = 0, previousPosition = -1;
    for (std::size_t i = 1; i < run.lines.size(); ++i) {
        ASSERT_EQ(run.lines[i].back(), ',') << "no alarms: " << run.lines[i];
        const auto f = Fields(run.lines[i]);
        ASSERT_EQ(f.size(), 6u) << run.lines[i];
        // On the grid: the i-th tick is due i periods after the start.
        EXPECT_GE(f[0], static_cast<long>(10 * i)) << run.lines[i];
        EXPECT_GT(f[0], previousTime) << run.lines[i];
        EXPECT_GE(f[1], previousPosition) << "the shaft moves up: " << run.lines[i];
        // The shaft speeds up to the goal speed within a tenth of a second and keeps it.
        EXPECT_GT(f[2], 0) << run.lines[i];
        EXPECT_LE(f[2], 20) << run.lines[i];
        if (f[0] >= 100) {
            EXPECT_EQ(f[2], 20) << "at the goal speed: " << run.lines[i];
        }
        EXPECT_LT(f[4], 74) << "the voltage sags while it moves: " << run.lines[i];
        previousTime = f[0];
        previousPosition = f[1];
    }
    EXPECT_GT(Fields(run.lines.back())[1] - Fields(run.lines[1])[1], 60);
}

TEST_F(CliMonitor, TicksThatFallBehindAreSkippedAndCountedNotBunched) {
    // Every third status is lost: that tick waits out the 50 ms timeout and overruns four grid points.
    sim::CSimFaultRule rule;
    rule.kind = sim::ESimFaultKind::DropReply;
    rule.servoId = 2;
    rule.skip = 2;
    rule.count = 1;
    m_bus.AddFault(rule);
    const CCliRun run = Monitor({"2", "--count", "6", "--period", "10"});
    ASSERT_EQ(run.code, EXIT_OK) << run.err;
    ASSERT_EQ(run.lines.size(), 6u) << "header and five readings";
    EXPECT_EQ(run.lines[0].find("   time_ms position"), 0u) << run.lines[0];
    // Tick 3 went unanswered; tick 4 comes at the first grid point after its timeout, not straight away,
    // and tick 5 a period after that.
    long times[4] = {};
    for (int i = 0; i < 4; ++i) std::istringstream(run.lines[static_cast<std::size_t>(i) + 2]) >> times[i];
    EXPECT_GE(times[1] - times[0], 60) << run.lines[2] << "\n" << run.lines[3];
    EXPECT_GE(times[2] - times[1], 5) << run.lines[3] << "\n" << run.lines[4];
    EXPECT_NE(run.err.find("6 ticks, "), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find(" 0 skipped"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("1 without reply"), std::string::npos) << run.err;
}

TEST_F(CliMonitor, CtrlCEndsItAfterTheLineInProgressAndASilentServoIsAFailure) {
    CCliRun run{};
    std::thread monitor([&] { run = Monitor({"1", "--period", "10", "--count", "100000"}); });
    // The handler is in place once the first tick has gone out.
    ASSERT_TRUE(m_bus.WaitForFrames(3, 2s));
    ::kill(::getpid(), SIGINT);
    monitor.join();
    EXPECT_EQ(run.code, EXIT_OK) << run.err;
    EXPECT_GE(run.lines.size(), 4u);
    EXPECT_LT(run.took, 2s);

    const CCliRun silent = Monitor({"9", "--count", "3", "--period", "10"});
    EXPECT_EQ(silent.code, EXIT_NO_REPLY);
    EXPECT_EQ(silent.lines.size(), 1u) << "the header only";
    EXPECT_NE(silent.err.find("3 without reply"), std::string::npos) << silent.err;

    EXPECT_EQ(Monitor({"1", "--period", "0"}).code, EXIT_BAD_ARGUMENTS);
    EXPECT_EQ(Monitor({"1", "--count"}).code, EXIT_BAD_ARGUMENTS);
    EXPECT_EQ(Monitor({"1", "--fast"}).code, EXIT_BAD_ARGUMENTS);
}

// A servo in alarm: every line names its alarms in the last column, the voltage's side of its limits
// included, and stderr gives the values once, when they appear.
TEST(CliMonitorAlarms, TheLastColumnNamesTheAlarmsOfEachReading) {
    SKIP_UNLESS_LINE_RATE(1000000);
    sim::CSimServoSpec servo = sim::DefaultServo(1);
    servo.temperature = 90;
    servo.voltage = 30;
    sim::CBusSimulator bus({servo, sim::DefaultServo(2)}, {});
    ASSERT_TRUE(bus.Start());
    auto monitor = [&](std::vector<std::string> args) {
        args.insert(args.begin(), {"--port", bus.SlavePath(), "monitor"});
        std::ostringstream out, err;
        const int code = RunCli(args, out, err);
        EXPECT_EQ(code, EXIT_OK) << err.str();
        return std::pair{SplitLines(out.str()), err.str()};
    };
    auto [lines, err] = monitor({"1", "--count", "3", "--csv"});
    ASSERT_EQ(lines.size(), 4u);
    for (std::size_t i = 1; i < lines.size(); ++i)
        EXPECT_EQ(lines[i].substr(lines[i].find(",3.0,90,")), ",3.0,90,under-voltage+over-heat") << lines[i];
    EXPECT_EQ(
        err.find(
            "brennix: warning: ID 1 reports under-voltage (voltage 3.0 V outside 5.0\u201325.0 V), over-heat "
            "(temperature 90 \u00b0C above 80 \u00b0C)\n"),
        0u)
        << err;
    EXPECT_EQ(err.find("warning", 10), std::string::npos) << "once, not every line";

    std::tie(lines, err) = monitor({"1", "--count", "1"});
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].substr(lines[0].size() - 18), "temperature alarms");
    EXPECT_EQ(lines[1].substr(lines[1].size() - 26), "90 under-voltage+over-heat");
    std::tie(lines, err) = monitor({"2", "--count", "1"});
    EXPECT_EQ(lines[1].back(), '1') << "a well servo's line ends with its temperature: " << lines[1];
    EXPECT_EQ(err.find("warning"), std::string::npos);
}
