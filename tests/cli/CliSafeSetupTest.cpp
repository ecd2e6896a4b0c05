// Bringing up a robot against a simulated bus: ID and rate changes however the servo answers them, IDs that
// several servos share, files that would spoil a servo, and IDs handed out one plugged-in servo at a time.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "cli/CliCommands.h"
#include "cli/CliOptions.h"
#include "link/ControlTable.h"
#include "link/Encodings.h"
#include "sim/BusSimulator.h"
#include "sim/ServoTable.h"
#include "tests/program/TempDir.h"
#include "tests/support/CliRun.h"
#include "tests/support/LineRateProbe.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

sim::CSimServoSpec Servo(uint8_t id, uint32_t baud = 1000000) {
    return sim::DefaultServo(id, static_cast<uint8_t>(BaudCodeOf(baud)));
}

class CliSafeSetup : public ::testing::Test {
protected:
    void SetUp() override { SKIP_UNLESS_LINE_RATE(1000000); }
    void Start(const std::vector<sim::CSimServoSpec>& servos) {
        m_bus = std::make_unique<sim::CBusSimulator>(servos, sim::CSimLineOptions{});
        ASSERT_TRUE(m_bus->Start());
    }
    // A generous timeout, unless the test times the bus itself.
    CCliRun Run(std::vector<std::string> args, const char* timeoutMs = "200") {
        return RunClientOn(m_bus->SlavePath(), std::move(args), {"--timeout", timeoutMs});
    }
    // Requests that would change a servo: writes, resets and the hand-over to the boot loader.
    int Changes() const {
        int changes = 0;
        for (const auto& f : m_bus->Frames())
            changes += f.bytes.at(4) == 0x03 || f.bytes.at(4) == 0x06 || f.bytes.at(4) == 0x08;
        return changes;
    }
    // A parameter file of a factory-fresh servo with ID `id` at 1000000 baud: the simulator's own table, in
    // the file's order (16-bit registers low byte first).
    fs::path FactoryFile(const std::string& name, uint8_t id = 1) {
        const sim::ControlTable table = sim::FactoryTable(id, 0);
        std::string bytes(table.begin(), table.begin() + 31);
        uint8_t* image = reinterpret_cast<uint8_t*>(bytes.data());
        SwapParameterWords(image);  // CURRENT_LIMIT is low byte first on the servo already
        image[Reg::HIGH_BYTE_FIRST] = 1;
        const fs::path path = m_dir.Path() / name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
    fs::path Edited(const std::string& name, uint8_t address, int value, bool word) {
        const fs::path path = FactoryFile(name);
        std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
        file.seekp(address);
        file.put(static_cast<char>(value & 0xFF));
        if (word) file.put(static_cast<char>(value >> 8));
        return path;
    }

    std::unique_ptr<sim::CBusSimulator> m_bus;
    CTempDir m_dir;
};

// A servo answers the write that changes its ID from the new ID (as real servos do) or from the old one,
// and the one that changes its rate at the new rate or at the old one: every command takes each.
TEST_F(CliSafeSetup, IdAndRateChangesSucceedHoweverTheServoAnswersThem) {
    for (const auto reply : {sim::EChangeReply::New, sim::EChangeReply::Old}) {
        const bool fromNew = reply == sim::EChangeReply::New;
        SCOPED_TRACE(fromNew ? "answered as the servo is after the write" : "as it was before");
        sim::CSimServoSpec servo = Servo(1);
        servo.changeReply = reply;
        Start({servo});
        CCliRun run = Run({"set-id", "1", "7"});
        EXPECT_EQ(run.code, EXIT_OK) << run.err;
        EXPECT_EQ(run.out, "ID 1 is now ID 7\n");
        EXPECT_EQ(m_bus->Table(7).at(Reg::LOCK), 1);

        run = Run({"set-rate", "7", "57600"});
        EXPECT_EQ(run.code, EXIT_OK) << run.err;
        EXPECT_EQ(run.out, "ID 7 now answers at 57600 baud\n");
        EXPECT_EQ(Run({"--baud", "57600", "ping", "7"}).code, EXIT_OK);
        EXPECT_EQ(m_bus->Table(7).at(Reg::LOCK), 1);

        // Both at once, from a file.
        const fs::path file = FactoryFile("moved.dat", 9);
        run = Run({"--baud", "57600", "load", "7", file.string(), "--with-id", "--with-rate"});
        EXPECT_EQ(run.code, EXIT_OK) << run.err;
        EXPECT_NE(run.out.find("ID 7 \u2192 9\nBAUD_RATE 6 \u2192 0\n"), std::string::npos) << run.out;
        EXPECT_EQ(Run({"ping", "9"}).code, EXIT_OK);
    }
    // A rate change whose status is lost altogether: the servo is looked for at its new rate first.
    Start({Servo(1)});
    sim::CSimFaultRule drop;
    drop.kind = sim::ESimFaultKind::DropReply;
    drop.instruction = 0x03;
    drop.skip = 1;  // the unlock is answered
    drop.count = 1;
    m_bus->AddFault(drop);
    const CCliRun run = Run({"set-rate", "1", "38400"});
    EXPECT_EQ(run.code, EXIT_OK) << run.err;
    EXPECT_EQ(m_bus->FaultHits(), 1);
}

// Several servos with one ID would all take a change meant for one: every command that changes a servo is
// refused, whatever the rate, and nothing is sent that would change them. A new ID that answers at all,
// damaged or not, is taken.
TEST_F(CliSafeSetup, ChangesToAnIdSeveralServosShareAreRefused) {
    for (const uint32_t baud : {1000000u, 57600u}) {
        SCOPED_TRACE(baud);
        sim::CSimServoSpec warmer = Servo(4, baud);
        warmer.temperature = 36;
        Start({Servo(4, baud), warmer, Servo(3, baud)});
        const std::string rate = std::to_string(baud);
        const fs::path file = FactoryFile("servo.dat");
        const fs::path image = m_dir.Path() / "fw.bin";
        std::ofstream(image, std::ios::binary) << std::string(640, '\x5A');
        const std::vector<std::vector<std::string>> commands = {{"set-id", "4", "5"},
                                                                {"set-rate", "4", "115200"},
                                                                {"load", "4", file.string(), "--with-rate"},
                                                                {"write", "4", "31", "01"},
                                                                {"reset", "4"},
                                                                {"flash", "4", image.string()}};
        for (std::vector<std::string> args : commands) {
            SCOPED_TRACE(args[0]);
            args.insert(args.begin(), {"--baud", rate});
            const CCliRun run = Run(args);
            EXPECT_EQ(run.code, EXIT_BAD_ARGUMENTS) << run.err;
            EXPECT_NE(run.err.find("ID 4 at " + rate + ": two or more servos answer"), std::string::npos)
                << run.err;
            EXPECT_NE(run.err.find("brennix assign"), std::string::npos) << "says how to separate them";
        }
        // Servo 3 onto the shared ID: their answers to its ping are damaged, and still an answer.
        const CCliRun onto = Run({"--baud", rate, "set-id", "3", "4"});
        EXPECT_EQ(onto.code, EXIT_BAD_ARGUMENTS) << onto.err;
        EXPECT_NE(onto.err.find("already answers at ID 4"), std::string::npos) << onto.err;
        EXPECT_EQ(Changes(), 0);
    }
}

// A file is checked before anything goes on the bus: a value no servo takes is refused by name, and so is a
// file that would move the servo to another rate unless that is asked for. What changes is shown first;
// --dry-run shows only that.
TEST_F(CliSafeSetup, LoadChecksTheFileAndShowsWhatChanges) {
    Start({Servo(1)});
    struct CCase {
        uint8_t address;
        int value;
        bool word;
        const char* named;
    };
    const CCase cases[] = {
        {Reg::BAUD_RATE, 8, false, "BAUD_RATE 8, not 0 to 7"},
        {Reg::RETURN_LEVEL, 153, false, "RETURN_LEVEL 153, not 0 to 2"},
        {Reg::MIN_POSITION_LIMIT, 58816, true,
         "MIN_POSITION_LIMIT 58816, not 0 to MAX_POSITION_LIMIT (1023)"},
        {Reg::MAX_POSITION_LIMIT, 1024, true, "MAX_POSITION_LIMIT 1024, not 0 to 1023"},
        {Reg::MAX_VOLTAGE, 251, false, "MAX_VOLTAGE 251, not 50 to 250"},
        {Reg::MIN_VOLTAGE, 49, false, "MIN_VOLTAGE 49, not 50 to MAX_VOLTAGE (250)"},
        {Reg::MAX_TORQUE, 52791, true, "MAX_TORQUE 52791, not 0 to 1023"},
        {Reg::PUNCH, 1024, true, "PUNCH 1024, not 0 to 1023"},
        {Reg::CURRENT_LIMIT, 2048, true, "CURRENT_LIMIT 2048, not 0 to 2047"},
    };
    for (const CCase& c : cases) {
        const fs::path file = Edited("bad.dat", c.address, c.value, c.word);
        const CCliRun run = Run({"load", "1", file.string()});
        EXPECT_EQ(run.code, EXIT_BAD_ARGUMENTS) << c.named;
        EXPECT_NE(run.err.find(file.string() + ": " + c.named), std::string::npos) << run.err;
    }
    const fs::path badId = Edited("id.dat", Reg::ID, 254, false);
    EXPECT_EQ(Run({"load", "1", badId.string(), "--with-id"}).code, EXIT_BAD_ARGUMENTS);
    const fs::path otherRate = Edited("rate.dat", Reg::BAUD_RATE, 1, false);
    CCliRun run = Run({"load", "1", otherRate.string()});
    EXPECT_EQ(run.code, EXIT_BAD_ARGUMENTS);
    EXPECT_NE(run.err.find("500000 baud"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("--with-rate"), std::string::npos) << run.err;
    EXPECT_TRUE(m_bus->Frames().empty()) << "nothing goes on the bus for a refused file";

    const fs::path tuned = Edited("tuned.dat", Reg::P_COEFF, 64, false);
    const auto before = m_bus->Table(1);
    run = Run({"load", "1", tuned.string(), "--dry-run"});
    EXPECT_EQ(run.code, EXIT_OK) << run.err;
    EXPECT_EQ(run.out, "P_COEFF 15 \u2192 64\n");
    EXPECT_EQ(Changes(), 0);
    EXPECT_EQ(m_bus->Table(1), before);
    run = Run({"load", "1", tuned.string()});
    EXPECT_EQ(run.code, EXIT_OK) << run.err;
    EXPECT_EQ(run.out, "P_COEFF 15 \u2192 64\nloaded " + tuned.string() + " into ID 1 (1000000 baud)\n");
    EXPECT_EQ(m_bus->Table(1).at(Reg::P_COEFF), 64);

    // Level 0 can be written, but nothing can be read back afterwards: said before, and not called success.
    const fs::path quiet = Edited("quiet.dat", Reg::RETURN_LEVEL, 0, false);
    run = Run({"load", "1", quiet.string()});
    EXPECT_NE(run.err.find("RETURN_LEVEL 0: the servo will answer pings only"), std::string::npos) << run.err;
    EXPECT_EQ(run.code, EXIT_NO_REPLY);
}

// Three servos delivered as ID 1 are plugged in one after another; each gets the next ID, locked and checked.
TEST_F(CliSafeSetup, AssignHandsOutIdsToServosAsTheyArePluggedIn) {
    std::vector<sim::CSimServoSpec> servos{Servo(20)};  // already set up: left alone
    for (int second = 0; second < 3; ++second) {
        servos.push_back(Servo(1));
        servos.back().plugAfter = std::chrono::seconds(second);
        servos.back().temperature = static_cast<uint8_t>(30 + second);
    }
    Start(servos);
    // The client's own timeout: each servo must have its ID before the next one is powered up.
    const CCliRun run = Run({"assign", "10", "--count", "3"}, "50");
    EXPECT_EQ(run.code, EXIT_OK) << run.err;
    const std::string handed = "ID 1 at 1000000 \u2192 ID ";
    EXPECT_NE(run.out.find("ID 20 at 1000000: left alone\n"), std::string::npos) << run.out;
    const std::size_t first = run.out.find(handed + "10\n"), second = run.out.find(handed + "11\n"),
                      third = run.out.find(handed + "12\n");
    ASSERT_NE(first, std::string::npos) << run.out;
    ASSERT_NE(second, std::string::npos) << run.out;
    ASSERT_NE(third, std::string::npos) << run.out;
    EXPECT_LT(first, second);
    EXPECT_LT(second, third);
    EXPECT_NE(run.out.find("plug in the next servo\n"), std::string::npos) << run.out;
    // In the order they were plugged in (each has its own temperature).
    for (const auto& [id, temperature] : {std::pair{10, 30}, std::pair{11, 31}, std::pair{12, 32}}) {
        const auto table = m_bus->Table(static_cast<uint8_t>(id));
        ASSERT_FALSE(table.empty()) << id;
        EXPECT_EQ(table[Reg::PRESENT_TEMPERATURE], temperature) << id;
        EXPECT_EQ(table[Reg::LOCK], 1) << id;
    }
    EXPECT_TRUE(m_bus->Table(1).empty()) << "nobody is left at the factory ID";
    EXPECT_FALSE(m_bus->Table(20).empty());
}

TEST_F(CliSafeSetup, AssignRefusesArgumentsItCannotHonour) {
    Start({Servo(1)});
    const std::vector<std::pair<std::vector<std::string>, const char*>> cases = {
        {{"assign"}, "FIRST"},
        {{"assign", "254"}, "0 to 253"},
        {{"assign", "-1"}, "0 to 253"},
        {{"assign", "10", "--from", "300"}, "--from"},
        {{"assign", "10", "--rate", "9600"}, "not a servo rate"},
        {{"assign", "10", "--count", "0"}, "--count"},
        {{"assign", "250", "--count", "5"}, "past 253"},
        {{"assign", "10", "--colour", "red"}, "unexpected"},
    };
    for (const auto& [args, why] : cases) {
        const CCliRun run = Run(args);
        EXPECT_EQ(run.code, EXIT_BAD_ARGUMENTS) << args.back();
        EXPECT_NE(run.err.find(why), std::string::npos) << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << "one line: " << run.err;
    }
    EXPECT_TRUE(m_bus->Frames().empty());
}

}  // namespace
