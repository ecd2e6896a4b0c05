// brennix monitor of several servos, record, play and torque against simulated servos: the round trip of a
// motion taught by hand, the frames each command sends, and every bad input refused before anything is
// written.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

#include "cli/CliCommands.h"
#include "cli/CliInterrupt.h"
#include "cli/CliOptions.h"
#include "link/ControlTable.h"
#include "link/MotionFile.h"
#include "sim/BusSimulator.h"
#include "tests/program/TempDir.h"
#include "tests/support/CliBusTest.h"
#include "tests/support/CliRun.h"
#include "tests/support/LineRateProbe.h"

namespace {

using Bytes = std::vector<uint8_t>;
using namespace std::chrono_literals;

constexpr uint8_t SYNC_WRITE = 0x83;

sim::CSimServoSpec HandServo(uint8_t id, int low, int high, double seconds) {
    sim::CSimServoSpec spec = sim::DefaultServo(id);
    spec.hand = sim::CHandRange{low, high, seconds};
    return spec;
}

class CliRobot : public CCliBusTest<> {
protected:
    CliRobot()
        : CCliBusTest<>(std::vector<sim::CSimServoSpec>{HandServo(1, 300, 700, 2.0),
                                                        HandServo(2, 200, 800, 1.5), sim::DefaultServo(3)}) {}

    CCliRun Run(std::vector<std::string> args) { return RunOnBus(std::move(args)); }
    std::string File(const char* name) const { return (m_dir.Path() / name).string(); }
    std::string Write(const char* name, const std::string& text) const {
        std::ofstream(File(name), std::ios::binary) << text;
        return File(name);
    }
    // The frames since the last call. A command that has returned has written all its frames; one ending in a
    // sync write (which nothing answers) waits until the simulator has read that too.
    std::vector<Bytes> Heard(bool endsInSyncWrite = false) {
        EXPECT_TRUE(m_bus.WaitForQuietLine(1s));
        for (int i = 0; endsInSyncWrite && i < 200; ++i) {
            const auto frames = m_bus.Frames();
            if (!frames.empty() && frames.back().bytes[4] == SYNC_WRITE) break;
            std::this_thread::sleep_for(5ms);
        }
        std::vector<Bytes> frames;
        for (const auto& frame : m_bus.Frames()) frames.push_back(frame.bytes);
        m_bus.ClearFrames();
        return frames;
    }
    static int Word(const Bytes& frame, std::size_t at) { return frame[at] << 8 | frame[at + 1]; }

    // Two servos moved by hand while their torque is off, a third left alone.
    CTempDir m_dir;
};

// Two servos moved by hand for 2 s, recorded, then played back: every row goes out as one sync write with
// both servos' own positions, exactly as recorded, and nothing follows the last one.
TEST_F(CliRobot, ARecordingPlayedBackWritesEveryRowAsRecorded) {
    const std::string path = File("wave.csv");
    const CCliRun record = Run({"record", "1,2", "--period", "20", "--seconds", "2", "--out", path});
    ASSERT_EQ(record.code, EXIT_OK) << record.err;
    EXPECT_NE(record.err.find("torque is off on 1, 2: support the joints"), std::string::npos) << record.err;
    EXPECT_NE(record.err.find("torque stays off on 1, 2"), std::string::npos) << record.err;
    for (uint8_t id : {1, 2}) EXPECT_EQ(m_bus.Table(id)[Reg::TORQUE_ENABLE], 0);
    std::string error;
    const auto recording = ReadMotionFile(path, &error);
    ASSERT_TRUE(recording) << error;
    EXPECT_EQ(recording->ids, (std::vector<uint8_t>{1, 2}));
    ASSERT_GE(recording->rows.size(), 60u) << "a row every 20 ms for 2 s, a few let pass on a loaded machine";
    int lowest = 1023, highest = 0;
    for (const CMotionRow& row : recording->rows) {
        lowest = std::min(lowest, row.positions[1]);
        highest = std::max(highest, row.positions[1]);
    }
    EXPECT_GT(highest - lowest, 300) << "the hand moved servo 2";

    m_bus.ClearFrames();
    const CCliRun play = Run({"play", path});
    ASSERT_EQ(play.code, EXIT_OK) << play.err;
    // Nothing answers a sync write: wait until the simulator has read the last row too.
    ASSERT_TRUE(m_bus.WaitForFrames(12 + recording->rows.size(), 1s));
    const std::vector<Bytes> frames = Heard();
    std::vector<Bytes> rows;
    std::size_t firstSync = frames.size();
    for (std::size_t i = 0; i < frames.size(); ++i) {
        if (frames[i][4] != SYNC_WRITE) continue;
        firstSync = std::min(firstSync, i);
        rows.push_back(frames[i]);
    }
    ASSERT_EQ(rows.size(), recording->rows.size());
    EXPECT_EQ(frames.size() - firstSync, rows.size()) << "nothing after the rows, nothing between them";
    int largest = 0;
    for (std::size_t r = 0; r < rows.size(); ++r) {
        const Bytes& frame = rows[r];
        ASSERT_EQ(frame[3], 10) << "two blocks of ID and goal";
        ASSERT_EQ(frame[5], Reg::GOAL_POSITION);
        ASSERT_EQ(frame[7], 1);
        ASSERT_EQ(frame[10], 2);
        largest = std::max({largest, std::abs(Word(frame, 8) - recording->rows[r].positions[0]),
                            std::abs(Word(frame, 11) - recording->rows[r].positions[1])});
    }
    EXPECT_EQ(largest, 0);
    std::printf("round trip: %zu rows, largest difference between recorded and written positions: %d\n",
                rows.size(), largest);
    for (uint8_t id : {1, 2}) EXPECT_EQ(m_bus.Table(id)[Reg::TORQUE_ENABLE], 1);
}

// Before the rows: reads only, then each goal where the servo is, torque on, the way to the first row at a
// moderate speed, and each servo's own speed back. Ctrl+C during the rows holds every servo where it is with
// one sync write, and nothing after it.
// How far from its hold goal a braking shaft may be seen: what it coasts past the position read.
constexpr int kHoldSlack = 3;

TEST_F(CliRobot, PlayStartsGentlyAndCtrlCHoldsTheServosWhereTheyAre) {
    std::string rows = "time_ms,1,3\n";
    for (int t = 0; t <= 3000; t += 20)
        rows += std::to_string(t) + "," + std::to_string(400 + t / 10) + ",512\n";
    const std::string path = Write("slow.csv", rows);
    CCliRun play{};
    std::thread player([&] { play = Run({"play", path}); });
    // Some rows have gone out: the handler is in place.
    const auto syncs = [&] {
        const auto frames = m_bus.Frames();
        return std::count_if(frames.begin(), frames.end(),
                             [](const auto& f) { return f.bytes[4] == SYNC_WRITE; });
    };
    while (syncs() < 10) std::this_thread::sleep_for(5ms);
    CInterruptRequest::Raise();
    player.join();
    ASSERT_EQ(play.code, EXIT_OK) << play.err;
    EXPECT_NE(play.err.find("the servos hold where they are"), std::string::npos) << play.err;
    const std::vector<Bytes> frames = Heard(true);
    const Bytes expectedStart[] = {
        {0xFF, 0xFF, 0x01, 0x04, 0x02, 0x08, 0x01, 0xEF},  // RETURN_LEVEL
        {0xFF, 0xFF, 0x01, 0x04, 0x02, 0x23, 0x08, 0xCD},  // GOAL_SPEED to PRESENT_POSITION
        {0xFF, 0xFF, 0x03, 0x04, 0x02, 0x08, 0x01, 0xED},
        {0xFF, 0xFF, 0x03, 0x04, 0x02, 0x23, 0x08, 0xCB},
    };
    for (std::size_t i = 0; i < 4; ++i) EXPECT_EQ(frames.at(i), expectedStart[i]) << "frame " << i;
    // Goals where the servos are (servo 1 was moved by the hand), torque on, then the way to 400 and 512.
    EXPECT_EQ(frames.at(4)[5], Reg::GOAL_POSITION);
    EXPECT_EQ(frames.at(5)[5], Reg::GOAL_POSITION);
    EXPECT_EQ(frames.at(6), (Bytes{0xFF, 0xFF, 0x01, 0x04, 0x03, 0x1F, 0x01, 0xD7}));
    EXPECT_EQ(frames.at(7), (Bytes{0xFF, 0xFF, 0x03, 0x04, 0x03, 0x1F, 0x01, 0xD5}));
    EXPECT_EQ(frames.at(8), (Bytes{0xFF, 0xFF, 0x01, 0x07, 0x03, 0x21, 0x01, 0x90, 0x00, 0x1E, 0x24}));
    EXPECT_EQ(frames.at(9), (Bytes{0xFF, 0xFF, 0x03, 0x07, 0x03, 0x21, 0x02, 0x00, 0x00, 0x1E, 0xB1}));
    const auto speedBack = std::find_if(frames.begin(), frames.end(), [](const Bytes& f) {
        return f[4] == 0x03 && f[5] == Reg::GOAL_SPEED && f[2] == 3;
    });
    ASSERT_NE(speedBack, frames.end());
    EXPECT_EQ(Word(*speedBack, 6), 100) << "its own speed again";
    // The hold: the last frame is a sync write of where the servos are, after their positions were read.
    const Bytes& hold = frames.back();
    ASSERT_EQ(hold[4], SYNC_WRITE);
    EXPECT_EQ(frames[frames.size() - 2][5], Reg::PRESENT_POSITION);
    EXPECT_EQ(frames[frames.size() - 3][5], Reg::PRESENT_POSITION);
    // The table as of the last request. The goal is where the shaft was read; a shaft with inertia that was
    // still moving coasts a unit or two past it before the servo brings it back.
    const auto table = m_bus.Table(1);
    EXPECT_NEAR(Word(hold, 8), table[Reg::PRESENT_POSITION] << 8 | table[Reg::PRESENT_POSITION + 1],
                kHoldSlack);
    EXPECT_EQ(Word(hold, 11), 512);
    EXPECT_EQ(table[Reg::TORQUE_ENABLE], 1) << "torque stays on";
}

// Each tick reads each servo once in the order given, one line each, with its ID and its alarms.
TEST_F(CliRobot, MonitorOfSeveralServosPrintsALinePerServoAndTick) {
    m_bus.SetRegister(3, Reg::MAX_TEMPERATURE, 20);
    const CCliRun csv = Run({"monitor", "3,1", "--count", "4", "--period", "10", "--csv"});
    ASSERT_EQ(csv.code, EXIT_OK) << csv.err;
    ASSERT_EQ(csv.lines.size(), 1u + 4 * 2);
    EXPECT_EQ(csv.lines[0], "time_ms,id,position,speed,load,voltage,temperature,alarms");
    for (std::size_t i = 1; i < csv.lines.size(); i += 2) {
        EXPECT_NE(csv.lines[i].find(",3,512,0,0,7.4,3"), std::string::npos) << csv.lines[i];
        EXPECT_EQ(csv.lines[i].substr(csv.lines[i].rfind(',')), ",over-heat") << csv.lines[i];
        EXPECT_NE(csv.lines[i + 1].find(",1,"), std::string::npos) << csv.lines[i + 1];
        EXPECT_EQ(csv.lines[i + 1].back(), ',') << "no alarm: " << csv.lines[i + 1];
    }
    const CCliRun plain = Run({"monitor", "2,9", "--count", "3", "--period", "10"});
    ASSERT_EQ(plain.code, EXIT_OK) << plain.err;
    EXPECT_EQ(plain.lines.size(), 1u + 3) << "the silent servo prints nothing";
    EXPECT_EQ(plain.lines[0].find("   time_ms  id position"), 0u) << plain.lines[0];
    EXPECT_NE(plain.err.find("3 reads without reply"), std::string::npos) << plain.err;
    EXPECT_EQ(Run({"monitor", "8,9", "--count", "2"}).code, EXIT_NO_REPLY);
}

TEST_F(CliRobot, TorqueSwitchesNamedServosAndAllOffIsOneBroadcast) {
    m_bus.ClearFrames();
    const CCliRun allOff = Run({"torque", "all", "off"});
    ASSERT_EQ(allOff.code, EXIT_OK) << allOff.err;
    EXPECT_EQ(allOff.lines, std::vector<std::string>{"torque off sent to every servo at 1000000 baud"});
    ASSERT_TRUE(m_bus.WaitForFrames(1, 1s));
    // The client ends right after the broadcast: the port's settings are put back only once it has left.
    EXPECT_EQ(m_bus.Frames().at(0).baud, 1000000u);
    EXPECT_EQ(Heard(), (std::vector<Bytes>{{0xFF, 0xFF, 0xFE, 0x04, 0x03, 0x1F, 0x00, 0xDB}}));

    m_bus.SetRegister(3, Reg::GOAL_POSITION, 0);  // an old goal far from where it is
    m_bus.SetRegister(3, Reg::GOAL_POSITION + 1, 0);
    const CCliRun on = Run({"torque", "3,2", "on"});
    ASSERT_EQ(on.code, EXIT_OK) << on.err;
    EXPECT_EQ(on.lines, (std::vector<std::string>{"3 on", "2 on"}));
    EXPECT_EQ(m_bus.Table(3)[Reg::PRESENT_POSITION + 1], 0x00) << "still at 512";
    EXPECT_EQ(m_bus.Table(3)[Reg::PRESENT_POSITION], 0x02);
    const CCliRun off = Run({"torque", "2,9", "off"});
    EXPECT_EQ(off.code, EXIT_NO_REPLY);
    EXPECT_EQ(off.lines, (std::vector<std::string>{"2 off", "9 no answer"}));
}

// Every bad input: exit 2, the cause named, and nothing but reads on the bus.
TEST_F(CliRobot, BadInputIsRefusedBeforeAnythingIsWritten) {
    const std::string good = Write("good.csv", "time_ms,1,2\n0,500,500\n20,510,490\n");
    const struct {
        std::vector<std::string> args;
        const char* says;
    } cases[] = {
        {{"monitor", "1,1"}, "ID 1 is listed twice"},
        {{"monitor", "1,254"}, "ID 254 is outside 0-253"},
        {{"monitor", "1,x"}, "\"x\" is not an ID"},
        {{"monitor", "300"}, "bad number 300"},
        {{"record", "1,2", "--seconds", "1"}, "record needs --out FILE"},
        {{"record", "1,1", "--out", File("r.csv")}, "ID 1 is listed twice"},
        {{"record", "1", "--period", "2", "--out", File("r.csv")}, "--period needs 5 to 10000 ms"},
        {{"record", "1", "--out", File("no/such/r.csv")}, "No such file or directory"},
        {{"play", Write("a.csv", "time_ms,1,2\n0,500\n")}, "row 2, column 3: missing"},
        {{"play", Write("b.csv", "time_ms,1,2\n0,500,5x\n")},
         "row 2, column 3: \"5x\" is not a whole number"},
        {{"play", Write("c.csv", "time_ms,1,2\n40,1,2\n20,1,2\n")},
         "row 3, column 1: the time 20 ms goes back"},
        {{"play", Write("d.csv", "time_ms,1,2\n0,1,1024\n")}, "row 2, column 3: position 1024 of ID 2"},
        {{"play", Write("e.csv", "time_ms,1,9\n0,1,2\n")}, "row 1, column 3: ID 9 does not answer"},
        {{"play", File("missing.csv")}, "No such file or directory"},
        {{"play", good, "--speed", "5"}, "--speed needs a factor from 0.25 to 4"},
        {{"play", good, "--loop", "0"}, "--loop needs 1 to"},
        {{"torque", "all", "on"}, "torque all on is refused: name the servos"},
        {{"torque", "1", "up"}, "torque takes on or off"},
        {{"torque", "1,,2", "off"}, "\"\" is not an ID"},
    };
    for (const auto& c : cases) {
        m_bus.ClearFrames();
        const CCliRun run = Run(c.args);
        EXPECT_EQ(run.code, EXIT_BAD_ARGUMENTS) << c.args[0] << " " << c.args[1] << ": " << run.err;
        EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
        for (const Bytes& frame : Heard()) EXPECT_EQ(frame[4], 0x02) << c.args[0] << " " << c.args[1];
    }
}

// The adapter pulled out while recording: exit 4, and the rows taken so far are in the file.
TEST_F(CliRobot, ALostPortEndsARecordingWithItsRowsKept) {
    const std::string path = File("cut.csv");
    CCliRun record{};
    std::thread recorder([&] { record = Run({"record", "1", "--period", "10", "--out", path}); });
    ASSERT_TRUE(m_bus.WaitForFrames(30, 5s));
    m_bus.Unplug();
    recorder.join();
    EXPECT_EQ(record.code, EXIT_PORT_UNAVAILABLE) << record.err;
    std::string error;
    const auto kept = ReadMotionFile(path, &error);
    ASSERT_TRUE(kept) << error;
    EXPECT_GE(kept->rows.size(), 5u);
}

}  // namespace
