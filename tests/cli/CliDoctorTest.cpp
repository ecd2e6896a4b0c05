// brennix doctor on simulated buses: each planted fault found and failed or warned with its hint, a bus
// without servos, a port another process holds, --move putting every servo back, and --markdown.
#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <chrono>
#include <sstream>
#include <thread>

#include "cli/CliCommands.h"
#include "cli/CliOptions.h"
#include "link/ControlTable.h"
#include "sim/BusSimulator.h"
#include "tests/support/CliRun.h"
#include "tests/support/LineRateProbe.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;

// The report line of one check, or empty.
std::string LineOf(const std::string& report, const std::string& where, const std::string& check) {
    std::istringstream lines(report);
    for (std::string line; std::getline(lines, line);)
        if (line.find(where) != std::string::npos && line.find("  " + check + ": ") != std::string::npos)
            return line;
    return {};
}

CCliRun Doctor(sim::CBusSimulator& bus, std::vector<std::string> extra = {}) {
    std::vector<std::string> args{"--port", bus.SlavePath(), "doctor"};
    args.insert(args.end(), extra.begin(), extra.end());
    return RunClient(args);
}

sim::CSimServoSpec Servo(const char* text) {
    return *sim::ParseServoSpec(text, nullptr);
}

TEST(CliDoctor, FindsEachPlantedFaultAndSaysWhatToDo) {
    SKIP_UNLESS_LINE_RATE(1000000);
    // Two servos share ID 8 at 57600: their pings overlap cleanly, but their status spans differ (one runs
    // hotter), so their reads come back garbled.
    sim::CBusSimulator bus({Servo("1"), Servo("2:temp=85"), Servo("3:level=0"), Servo("4"), Servo("5"),
                            Servo("7@115200"), Servo("8@57600"), Servo("8@57600:temp=40")},
                           {});
    ASSERT_TRUE(bus.Start());
    bus.SetRegister(4, Reg::LOCK, 0);  // crossed limits: 600..100
    bus.SetRegister(4, Reg::MIN_POSITION_LIMIT, 0x02);
    bus.SetRegister(4, Reg::MIN_POSITION_LIMIT + 1, 0x58);
    bus.SetRegister(4, Reg::MAX_POSITION_LIMIT, 0x00);
    bus.SetRegister(4, Reg::MAX_POSITION_LIMIT + 1, 0x64);
    bus.SetRegister(4, Reg::LOCK, 1);
    bus.SetRegister(5, Reg::LOCK, 0);  // left unlocked
    const CCliRun run = Doctor(bus);
    const std::string& r = run.out;
    EXPECT_EQ(run.code, EXIT_NO_REPLY) << r;

    EXPECT_EQ(LineOf(r, "bus", "servos"), "ok    bus                servos: 1000000 baud: IDs 1, 2, 3, 4, 5")
        << r;
    EXPECT_NE(r.find("servos: 115200 baud: ID 7"), std::string::npos) << "every rate";
    EXPECT_NE(r.find("servos: 57600 baud: ID 8"), std::string::npos);
    EXPECT_NE(
        r.find("fail  bus                duplicate IDs: ID 8 at 57600 baud: two or more servos answer — "),
        std::string::npos)
        << r;
    EXPECT_EQ(LineOf(r, "servo 8", "reads"), "") << "a shared ID gets no checks of its own: its reads garble";

    EXPECT_EQ(LineOf(r, "servo 2 @", "alarms").rfind("fail", 0), 0u) << r;
    EXPECT_NE(LineOf(r, "servo 2 @", "alarms").find("alarms: over-heat — let it cool"), std::string::npos);
    EXPECT_NE(LineOf(r, "servo 2 @", "temperature").find("fail"), std::string::npos);
    EXPECT_NE(LineOf(r, "servo 2 @", "temperature").find("85 °C, above its limit (limit 80 °C)"),
              std::string::npos);

    EXPECT_NE(LineOf(r, "servo 3 @", "reads").find("warn"), std::string::npos) << r;
    EXPECT_NE(LineOf(r, "servo 3 @", "reads").find("answers pings but no reads — RETURN_LEVEL 0?"),
              std::string::npos);
    EXPECT_NE(LineOf(r, "servo 3 @", "other checks").find("skip"), std::string::npos);

    EXPECT_EQ(LineOf(r, "servo 4 @", "position limits").rfind("fail", 0), 0u) << r;
    EXPECT_NE(LineOf(r, "servo 4 @", "position limits").find("MIN 600 above MAX 100"), std::string::npos);

    EXPECT_EQ(LineOf(r, "servo 5 @", "lock").rfind("warn", 0), 0u) << r;
    EXPECT_NE(LineOf(r, "servo 5 @", "lock").find("brennix write 5 37 01"), std::string::npos);

    EXPECT_EQ(LineOf(r, "servo 1 @", "alarms").rfind("ok", 0), 0u) << "a healthy servo passes";
    EXPECT_EQ(LineOf(r, "servo 7 @ 115200", "voltage").rfind("ok", 0), 0u) << r;
    EXPECT_EQ(LineOf(r, "bus", "error rate"), "ok    bus                error rate: 0 of 100 reads failed")
        << r;
    EXPECT_EQ(bus.Table(1).at(Reg::TORQUE_ENABLE), 0) << "nothing moved without --move";
}

TEST(CliDoctor, ABusWithoutServosIsAFailure) {
    SKIP_UNLESS_LINE_RATE(1000000);
    sim::CBusSimulator bus(std::vector<uint8_t>{});
    ASSERT_TRUE(bus.Start());
    const CCliRun run = Doctor(bus, {"--markdown"});
    EXPECT_EQ(run.code, EXIT_NO_REPLY);
    EXPECT_NE(run.out.find("| fail | bus | servos | no servo answered at any rate scanned |"),
              std::string::npos)
        << run.out;
    EXPECT_EQ(run.out.rfind("| result | where | check | seen | what to do |\n", 0), 0u);
}

TEST(CliDoctor, APortHeldByAnotherProcessIsNamedByProcessAndPid) {
    sim::CBusSimulator bus({1});
    ASSERT_TRUE(bus.Start());
    // flock(1) takes the port's lock as a terminal program does and keeps it while its child sleeps.
    const std::string path = bus.SlavePath();
    const char* argv[] = {"flock", path.c_str(), "sleep", "30", nullptr};
    pid_t holder = 0;
    ASSERT_EQ(posix_spawnp(&holder, "flock", nullptr, nullptr, const_cast<char**>(argv), environ), 0);
    const int probe = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    bool held = false;
    for (int i = 0; i < 200 && !held; ++i) {
        held = ::flock(probe, LOCK_EX | LOCK_NB) != 0;
        if (!held) {
            ::flock(probe, LOCK_UN);
            std::this_thread::sleep_for(10ms);
        }
    }
    ::close(probe);
    ASSERT_TRUE(held) << "flock did not take the port";

    const CCliRun run = Doctor(bus);
    ::kill(holder, SIGTERM);
    ::waitpid(holder, nullptr, 0);
    EXPECT_EQ(run.code, EXIT_NO_REPLY);
    EXPECT_NE(
        run.out.find("fail  host  port opens: " + path + " is held by flock (PID " + std::to_string(holder) +
                     ") — close that program (kill " + std::to_string(holder) + ")"),
        std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("skip  bus   servos: no port, no bus"), std::string::npos) << run.out;
}

TEST(CliDoctor, MoveStepsEachServoAndPutsItsGoalAndTorqueBack) {
    SKIP_UNLESS_LINE_RATE(1000000);
    sim::CBusSimulator bus({Servo("1"), Servo("2:extload=1023")}, {});
    ASSERT_TRUE(bus.Start());
    bus.SetRegister(1, Reg::GOAL_POSITION + 1, 0x08);  // goal 520 with torque off: left as it is
    const CCliRun run = Doctor(bus, {"--move"});
    EXPECT_NE(LineOf(run.out, "servo 1 @", "moves").rfind("ok", 0), std::string::npos) << run.out;
    EXPECT_NE(LineOf(run.out, "servo 1 @", "moves").find("moves: moved 512 -> 5"), std::string::npos)
        << run.out;
    EXPECT_NE(LineOf(run.out, "servo 1 @", "moves").find("; goal and torque as they were"),
              std::string::npos);
    EXPECT_EQ(bus.Table(1).at(Reg::TORQUE_ENABLE), 0);
    EXPECT_EQ(bus.Table(1).at(Reg::GOAL_POSITION + 1), 0x08);
    // A weight as heavy as its torque: it cannot lift it.
    EXPECT_EQ(LineOf(run.out, "servo 2 @", "moves").rfind("fail", 0), 0u) << run.out;
    EXPECT_NE(LineOf(run.out, "servo 2 @", "moves").find("did not reach"), std::string::npos);
    EXPECT_EQ(bus.Table(2).at(Reg::TORQUE_ENABLE), 0);
    EXPECT_EQ(run.code, EXIT_NO_REPLY);
}

}  // namespace
