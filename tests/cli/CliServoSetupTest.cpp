// brennix set-id, set-rate, save and load on a simulated bus: what goes on the wire, what the servos end
// up holding, and what each refusal and failure leaves behind.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "cli/CliCommands.h"
#include "cli/CliOptions.h"
#include "link/ControlTable.h"
#include "sim/BusSimulator.h"
#include "tests/program/TempDir.h"
#include "tests/support/CliBusTest.h"
#include "tests/support/CliRun.h"
#include "tests/support/LineRateProbe.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

std::vector<uint8_t> FileBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class CliServoSetup : public CCliBusTest<> {
protected:
    CliServoSetup() : CCliBusTest<>(std::vector<uint8_t>{1, 7}) {}

    // A generous timeout: what is tested here is the order of steps and the state left behind, and a
    // loaded machine must not turn a slow status into a missing one.
    CCliRun Run(std::vector<std::string> args) { return RunOnBus(std::move(args), {"--timeout", "200"}); }

    // Each request heard as (target ID, instruction, first parameter).
    std::vector<std::tuple<int, int, int>> Heard() const {
        std::vector<std::tuple<int, int, int>> heard;
        for (const auto& f : m_bus.Frames())
            heard.emplace_back(f.bytes.at(2), f.bytes.at(4), f.bytes.size() > 6 ? f.bytes.at(5) : -1);
        return heard;
    }
    int Writes() const {
        int writes = 0;
        for (const auto& [id, instruction, address] : Heard()) writes += instruction == 0x03;
        return writes;
    }
    // The stored parameters, as the servo holds them.
    std::vector<uint8_t> Stored(uint8_t id) const {
        const auto table = m_bus.Table(id);
        return table.empty() ? table : std::vector<uint8_t>(table.begin() + 5, table.begin() + 31);
    }

    CTempDir m_dir;
};

}  // namespace

TEST_F(CliServoSetup, SetIdUnlocksWritesLocksAtTheNewIdAndChecksThere) {
    m_bus.RemoveServo(7);
    m_bus.ClearFrames();
    const CCliRun run = Run({"set-id", "1", "7"});
    ASSERT_EQ(run.code, EXIT_OK) << run.err;
    EXPECT_EQ(run.out, "ID 1 is now ID 7\n");
    EXPECT_GE(run.took, 600ms) << "the page's waits after unlock, write and lock";
    // Ping the servo and read its status span (one servo has the ID) and its parameters, check the new ID
    // is free, then the page's three writes, then the checks.
    const std::vector<std::tuple<int, int, int>> expected{
        {1, 0x01, -1}, {1, 0x02, 41}, {1, 0x02, 5},  {7, 0x01, -1}, {1, 0x03, 37},
        {1, 0x03, 5},  {7, 0x03, 37}, {7, 0x01, -1}, {7, 0x02, 5},  {7, 0x02, 37}};
    EXPECT_EQ(Heard(), expected);
    const auto frames = m_bus.Frames();
    EXPECT_EQ(frames[5].bytes.at(6), 7) << "the span carries the new ID at address 5";
    EXPECT_EQ(frames[5].bytes.size(), 7u + 26u);

    EXPECT_EQ(Run({"ping", "7"}).code, EXIT_OK);
    EXPECT_EQ(Run({"ping", "1"}).code, EXIT_NO_REPLY);
    EXPECT_EQ(m_bus.Table(7).at(Reg::LOCK), 1) << "locked again";

    // A servo that answers reads only cannot confirm the writes; the read-back still vouches for them.
    m_bus.SetRegister(7, Reg::RETURN_LEVEL, 1);
    const CCliRun quiet = Run({"set-id", "7", "1"});
    EXPECT_EQ(quiet.code, EXIT_OK) << quiet.err;
    EXPECT_EQ(Run({"ping", "1"}).code, EXIT_OK);
}

TEST_F(CliServoSetup, SetIdRefusesATakenIdOrNoServoAndWritesNothing) {
    const auto before = Stored(1);
    CCliRun run = Run({"set-id", "1", "7"});
    EXPECT_EQ(run.code, EXIT_BAD_ARGUMENTS);
    EXPECT_NE(run.err.find("already answers at ID 7"), std::string::npos) << run.err;
    run = Run({"set-id", "3", "9"});
    EXPECT_EQ(run.code, EXIT_NO_REPLY);
    EXPECT_NE(run.err.find("nothing written"), std::string::npos) << run.err;
    EXPECT_EQ(Run({"set-id", "1", "1"}).code, EXIT_BAD_ARGUMENTS);
    EXPECT_EQ(Run({"set-id", "1", "254"}).code, EXIT_BAD_ARGUMENTS);
    EXPECT_EQ(Writes(), 0);
    EXPECT_EQ(Stored(1), before);
}

TEST_F(CliServoSetup, SetRateMovesTheServoToTheNewRateOnly) {
    const CCliRun run = Run({"set-rate", "1", "115200"});
    ASSERT_EQ(run.code, EXIT_OK) << run.err;
    EXPECT_EQ(run.out, "ID 1 now answers at 115200 baud\n");
    EXPECT_EQ(Run({"--baud", "115200", "ping", "1"}).code, EXIT_OK);
    EXPECT_EQ(Run({"ping", "1"}).code, EXIT_NO_REPLY);
    EXPECT_EQ(Run({"ping", "7"}).code, EXIT_OK) << "the other servo stays where it was";
    // The lock went out at the new rate.
    const auto frames = m_bus.Frames();
    bool lockAtNewRate = false;
    for (const auto& f : frames)
        lockAtNewRate |=
            f.bytes.at(4) == 0x03 && f.bytes.at(5) == Reg::LOCK && f.bytes.at(6) == 1 && f.baud == 115200;
    EXPECT_TRUE(lockAtNewRate);

    m_bus.ClearFrames();
    for (const char* rate : {"12345", "0", "1000000"}) {
        const CCliRun refused = Run({"set-rate", "7", rate});
        EXPECT_EQ(refused.code, EXIT_BAD_ARGUMENTS) << rate;
    }
    // A servo with the same ID at the new rate would clash.
    m_bus.AddServo(7, 4);
    EXPECT_EQ(Run({"set-rate", "7", "115200"}).code, EXIT_BAD_ARGUMENTS);
    EXPECT_EQ(Writes(), 0);
}

// A servo that stops answering part-way: which step failed, the state it may be in, and no success.
TEST_F(CliServoSetup, AServoThatStopsAnsweringIsReportedWithItsPossibleState) {
    m_bus.RemoveServo(7);
    struct CCase {
        int skip;  // write statuses that still come through
        const char* message;
        uint8_t idAfter;
    };
    // The servo carries out every write; only its statuses are lost. Where it answers it is locked again.
    const CCase cases[] = {
        {0,
         "ID 1 (1000000 baud) did not confirm the unlock (step 1 of 3), parameters not written; it answers "
         "at "
         "ID 1 (1000000 baud) and is locked",
         1},
        {1,
         "ID 1 (1000000 baud) did not confirm the parameter write (step 2 of 3); it answers at ID 7 (1000000 "
         "baud) and is locked",
         7},
    };
    for (const CCase& c : cases) {
        SCOPED_TRACE(c.message);
        sim::CSimFaultRule rule;
        rule.kind = sim::ESimFaultKind::DropReply;
        rule.instruction = 0x03;
        rule.skip = c.skip;
        rule.count = sim::kEveryReply;
        m_bus.AddFault(rule);
        const CCliRun run = Run({"set-id", "1", "7"});
        EXPECT_EQ(run.code, EXIT_NO_REPLY);
        EXPECT_TRUE(run.out.empty());
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
        ASSERT_FALSE(m_bus.Table(c.idAfter).empty());
        EXPECT_EQ(m_bus.Table(c.idAfter).at(Reg::LOCK), 1);
        m_bus.ClearFaults();
        if (c.idAfter != 1) {
            ASSERT_EQ(Run({"set-id", "7", "1"}).code, EXIT_OK);
        }
    }
    // Gone altogether after the write: nothing answers where it should.
    sim::CSimFaultRule rule;
    rule.kind = sim::ESimFaultKind::DropReply;
    rule.servoId = 7;
    rule.count = sim::kEveryReply;
    m_bus.AddFault(rule);
    const CCliRun run = Run({"set-id", "1", "7"});
    EXPECT_EQ(run.code, EXIT_NO_REPLY);
    EXPECT_NE(
        run.err.find("no answer at ID 7 (1000000 baud) after the write nor to the lock (step 3 of 3); it "
                     "answers at neither ID 7 (1000000 baud) nor ID 1 (1000000 baud): where it is and "
                     "whether it is locked is not known"),
        std::string::npos)
        << run.err;
}

TEST_F(CliServoSetup, SaveAndLoadRoundTripAndKeepTheServosId) {
    const fs::path file = m_dir.Path() / "servo1.dat";
    const auto original = Stored(1);
    CCliRun run = Run({"save", "1", file.string()});
    ASSERT_EQ(run.code, EXIT_OK) << run.err;
    const auto bytes = FileBytes(file);
    ASSERT_EQ(bytes.size(), 31u);
    EXPECT_EQ(bytes[2], 1) << "the byte-order flag";
    EXPECT_EQ(bytes[5], 1);
    EXPECT_EQ(bytes[16], 0xFF) << "MAX_TORQUE 1023, low byte first";
    EXPECT_EQ(bytes[17], 0x03);

    // Servo 7 gets servo 1's parameters but keeps its ID; with --with-id it would clash with servo 1.
    run = Run({"load", "7", file.string()});
    ASSERT_EQ(run.code, EXIT_OK) << run.err;
    auto expected = original;
    expected[0] = 7;
    EXPECT_EQ(Stored(7), expected);
    EXPECT_EQ(Run({"load", "7", file.string(), "--with-id"}).code, EXIT_BAD_ARGUMENTS);

    // Changed values come back from the file; the file's ID moves the servo with --with-id.
    ASSERT_EQ(Run({"write", "1", "37", "00"}).code, EXIT_OK);
    ASSERT_EQ(Run({"write", "1", "21", "40", "41", "42"}).code, EXIT_OK);
    ASSERT_NE(Stored(1), original);
    ASSERT_EQ(Run({"load", "1", file.string()}).code, EXIT_OK);
    EXPECT_EQ(Stored(1), original);
    m_bus.RemoveServo(1);
    run = Run({"load", "7", file.string(), "--with-id"});
    ASSERT_EQ(run.code, EXIT_OK) << run.err;
    EXPECT_EQ(Stored(1), original);
    EXPECT_TRUE(m_bus.Table(7).empty());
}

TEST_F(CliServoSetup, FilesThatAreShortDirectoriesFifosOrImpossibleAreRefusedAtOnce) {
    const fs::path shortFile = m_dir.Path() / "short.dat";
    std::ofstream(shortFile, std::ios::binary) << std::string(30, '\x01');
    const fs::path fifo = m_dir.Path() / "pipe.dat";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0666), 0);
    const fs::path badRate = m_dir.Path() / "rate.dat";
    std::string bytes(31, '\x01');
    bytes[Reg::BAUD_RATE] = 9;
    std::ofstream(badRate, std::ios::binary) << bytes;
    const std::pair<fs::path, const char*> cases[] = {
        {shortFile, "shorter than 31 bytes"}, {m_dir.Path(), "not a regular file"},
        {fifo, "not a regular file"},         {m_dir.Path() / "missing.dat", "cannot open"},
        {badRate, "BAUD_RATE 9, not 0 to 7"},
    };
    for (const auto& [path, message] : cases) {
        const CCliRun run = Run({"load", "1", path.string()});
        EXPECT_EQ(run.code, EXIT_BAD_ARGUMENTS) << path;
        EXPECT_NE(run.err.find(message), std::string::npos) << run.err;
        EXPECT_LT(run.took, 1s);
    }
    EXPECT_TRUE(m_bus.Frames().empty()) << "nothing goes on the bus for a refused file";
    EXPECT_EQ(Run({"load", "1", shortFile.string(), "--with-ID"}).code, EXIT_BAD_ARGUMENTS);

    const CCliRun onDir = Run({"save", "1", m_dir.Path().string()});
    EXPECT_EQ(onDir.code, EXIT_OUTPUT_FAILED);
    EXPECT_NE(onDir.err.find("cannot write " + m_dir.Path().string() + ": is a directory"), std::string::npos)
        << onDir.err;
    EXPECT_EQ(Run({"save", "4", (m_dir.Path() / "x.dat").string()}).code, EXIT_NO_REPLY);
    EXPECT_FALSE(fs::exists(m_dir.Path() / "x.dat"));
}
